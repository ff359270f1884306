<?xml version="1.0" encoding="UTF-8"?>
<!-- Likely duplicates among the user's cards: groups of cards that share an
     e-mail address, a phone number or a name (the server compares them
     folded for case and accents, phone numbers by their digits), each with
     the reasons, and a link to merge each card into the group's first. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Duplicates</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel duplicates">
          <xsl:choose>
            <xsl:when test="not(/*/DUPLICATES/GROUP)">
              <p class="notice success" role="status">No two of your cards share an e-mail address, a phone number or a name.</p>
            </xsl:when>
            <xsl:otherwise>
              <p>
                <xsl:value-of select="count(/*/DUPLICATES/GROUP)"/>
                <xsl:choose>
                  <xsl:when test="count(/*/DUPLICATES/GROUP) = 1"> group of cards looks alike.</xsl:when>
                  <xsl:otherwise> groups of cards look alike.</xsl:otherwise>
                </xsl:choose>
                <xsl:text> Merging keeps every property of both cards in the first.</xsl:text>
              </p>
              <xsl:apply-templates select="/*/DUPLICATES/GROUP"/>
            </xsl:otherwise>
          </xsl:choose>
          <p><a class="btn" href="index.htm">Back to the cards</a></p>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="GROUP">
    <xsl:variable name="first" select="CARD[1]"/>
    <div class="duplicate-group">
      <p class="duplicate-why">
        <xsl:for-each select="WHY">
          <xsl:if test="position() &gt; 1">; </xsl:if>
          <xsl:value-of select="concat('same ', KIND, ': ', VALUE)"/>
        </xsl:for-each>
      </p>
      <ul>
        <xsl:for-each select="CARD">
          <xsl:variable name="card" select="/*/vCard[OWNER = $USER][ID = current()][1]"/>
          <xsl:variable name="id">
            <xsl:call-template name="url-encode"><xsl:with-param name="text" select="."/></xsl:call-template>
          </xsl:variable>
          <li>
            <a href="card.htm?ID={$id}">
              <xsl:call-template name="card-title"><xsl:with-param name="card" select="$card"/></xsl:call-template>
            </a>
            <xsl:if test="position() &gt; 1">
              <xsl:variable name="keep">
                <xsl:call-template name="url-encode"><xsl:with-param name="text" select="$first"/></xsl:call-template>
              </xsl:variable>
              <xsl:text> </xsl:text>
              <a class="btn" href="mergecards.htm?ID={$keep}&amp;OTHER={$id}">Merge into the first&#8230;</a>
            </xsl:if>
          </li>
        </xsl:for-each>
      </ul>
    </div>
  </xsl:template>

</xsl:stylesheet>
