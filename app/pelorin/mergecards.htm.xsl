<?xml version="1.0" encoding="UTF-8"?>
<!-- Shows what merging two of the user's cards (ID kept, OTHER merged into it
     and deleted) gives, property by property, and posts the merge. The server
     makes the merged card again from the two cards when the post comes, so
     the post carries the two IDs only. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:param name="ID"/>
  <xsl:param name="OTHER"/>

  <xsl:variable name="merge" select="/*/MERGE"/>
  <xsl:variable name="kept" select="/*/vCard[OWNER = $USER][ID = $ID][1]"/>
  <xsl:variable name="other" select="/*/vCard[OWNER = $USER][ID = $OTHER][1]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Merge cards</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel confirm">
          <xsl:choose>
            <xsl:when test="not($merge)">
              <p class="notice">These are not two cards of yours. One of them may have been deleted or merged already.</p>
            </xsl:when>
            <xsl:otherwise>
              <xsl:variable name="keep-id">
                <xsl:call-template name="url-encode"><xsl:with-param name="text" select="$ID"/></xsl:call-template>
              </xsl:variable>
              <xsl:variable name="other-id">
                <xsl:call-template name="url-encode"><xsl:with-param name="text" select="$OTHER"/></xsl:call-template>
              </xsl:variable>
              <p>
                <xsl:text>The card of </xsl:text>
                <strong><xsl:call-template name="card-title"><xsl:with-param name="card" select="$other"/></xsl:call-template></strong>
                <xsl:text> is merged into the card of </xsl:text>
                <strong><xsl:call-template name="card-title"><xsl:with-param name="card" select="$kept"/></xsl:call-template></strong>
                <xsl:text> and then deleted. The merged card will hold:</xsl:text>
              </p>
              <table class="merge-result">
                <tbody>
                  <xsl:for-each select="$merge/vCard/*[not(self::ID or self::UID or self::PARAMS or self::RESOURCE)]">
                    <tr>
                      <th scope="row"><xsl:apply-templates select="." mode="label"/></th>
                      <td><xsl:apply-templates select="." mode="value"/></td>
                    </tr>
                  </xsl:for-each>
                </tbody>
              </table>
              <form action="mergecards.htm" method="post" accept-charset="UTF-8">
                <div>
                  <input type="hidden" name="Command" value="merge"/>
                  <input type="hidden" name="ID" value="{$ID}"/>
                  <input type="hidden" name="OTHER" value="{$OTHER}"/>
                  <button type="submit" class="btn btn-primary">Merge</button>
                  <a class="btn" href="mergecards.htm?ID={$other-id}&amp;OTHER={$keep-id}">Keep the other card instead</a>
                  <a class="btn btn-link" href="duplicates.htm">Cancel</a>
                </div>
              </form>
            </xsl:otherwise>
          </xsl:choose>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <!-- The words the card page labels its rows with, so that the preview reads
       like the card it will become; elements the pages do not know go by name. -->
  <xsl:template match="*" mode="label">
    <xsl:choose>
      <xsl:when test="self::FN">Formatted name</xsl:when>
      <xsl:when test="self::N">Name</xsl:when>
      <xsl:when test="self::NICKNAME">Nickname</xsl:when>
      <xsl:when test="self::SORTSTR">Sorted as</xsl:when>
      <xsl:when test="self::BDAY">Birthday</xsl:when>
      <xsl:when test="self::ORG">Organisation</xsl:when>
      <xsl:when test="self::TITLE">Title</xsl:when>
      <xsl:when test="self::ROLE">Role</xsl:when>
      <xsl:when test="self::TEL">Phone</xsl:when>
      <xsl:when test="self::EMAIL">E-mail</xsl:when>
      <xsl:when test="self::MAILER">Mail program</xsl:when>
      <xsl:when test="self::ADR">Address</xsl:when>
      <xsl:when test="self::LABEL">Address label</xsl:when>
      <xsl:when test="self::GEO">Position</xsl:when>
      <xsl:when test="self::TZ">Time zone</xsl:when>
      <xsl:when test="self::URL">Web page</xsl:when>
      <xsl:when test="self::CATEGORIES">Categories</xsl:when>
      <xsl:when test="self::NOTE">Note</xsl:when>
      <xsl:when test="self::CLASS">Access class</xsl:when>
      <xsl:when test="self::REV">Revised</xsl:when>
      <xsl:when test="self::PRODID">Made by</xsl:when>
      <xsl:when test="self::VERSION">vCard version</xsl:when>
      <xsl:when test="self::PHOTO">Photo</xsl:when>
      <xsl:when test="self::LOGO">Logo</xsl:when>
      <xsl:when test="self::SOUND">Sound</xsl:when>
      <xsl:when test="self::KEY">Key</xsl:when>
      <xsl:otherwise><xsl:value-of select="local-name()"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
  <xsl:template match="PROP" mode="label"><xsl:value-of select="NAME"/></xsl:template>

  <!-- Parts and values as text, markers as words; picture and sound data by
       their type alone. -->
  <xsl:template match="*" mode="value">
    <xsl:choose>
      <xsl:when test="BINVAL"><xsl:value-of select="concat('(', TYPE, ' data)')"/></xsl:when>
      <xsl:when test="*">
        <xsl:for-each select="*[not(self::NAME and parent::PROP)]">
          <xsl:if test="position() &gt; 1">, </xsl:if>
          <xsl:choose>
            <xsl:when test="* or string(.) != ''"><xsl:value-of select="."/></xsl:when>
            <xsl:otherwise><xsl:call-template name="marker-label"/></xsl:otherwise>
          </xsl:choose>
        </xsl:for-each>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="."/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

</xsl:stylesheet>
