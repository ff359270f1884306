<?xml version="1.0" encoding="UTF-8"?>
<!-- One of the user's own cards (parameter ID), with every part of the record
     that the card has. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:param name="ID"/>

  <xsl:variable name="card" select="/*/vCard[OWNER = $USER][ID = $ID][1]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">
        <xsl:choose>
          <xsl:when test="$card/FN[normalize-space() != '']"><xsl:value-of select="$card/FN"/></xsl:when>
          <xsl:when test="$card"><xsl:call-template name="card-title"><xsl:with-param name="card" select="$card"/></xsl:call-template></xsl:when>
          <xsl:otherwise>Card not found</xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
      <xsl:with-param name="content">
        <xsl:choose>
          <xsl:when test="not($card)">
            <p class="notice">There is no card of yours with this identifier. It may have been deleted.</p>
            <p><a class="btn" href="index.htm">Back to the cards</a></p>
          </xsl:when>
          <xsl:otherwise>
            <xsl:apply-templates select="$card"/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="vCard">
    <xsl:variable name="id">
      <xsl:call-template name="url-encode"><xsl:with-param name="text" select="string(ID)"/></xsl:call-template>
    </xsl:variable>
    <xsl:if test="TITLE | ROLE | ORG">
      <p class="lead">
        <xsl:for-each select="TITLE | ROLE | ORG/ORGNAME[normalize-space() != ''] | ORG/ORGUNIT">
          <xsl:if test="position() &gt; 1"><xsl:text> &#183; </xsl:text></xsl:if>
          <xsl:value-of select="."/>
        </xsl:for-each>
      </p>
    </xsl:if>
    <div class="actions">
      <a class="btn btn-primary" href="edit.htm?ID={$id}">Edit</a>
      <a class="btn btn-danger-outline" href="delete.htm?ID={$id}">Delete</a>
      <a class="btn" href="card.vcf?ID={$id}" title="This card as vCard 4.0">Download</a>
      <a class="btn" href="card.vcf?ID={$id}&amp;VERSION=3.0" title="This card as vCard 3.0">vCard 3.0</a>
      <a class="btn btn-link" href="index.htm">Back to the cards</a>
    </div>

    <xsl:call-template name="section">
      <xsl:with-param name="title">Name</xsl:with-param>
      <xsl:with-param name="items" select="FN | N | NICKNAME | SORTSTR | BDAY"/>
    </xsl:call-template>
    <xsl:call-template name="section">
      <xsl:with-param name="title">Work</xsl:with-param>
      <xsl:with-param name="items" select="ORG | TITLE | ROLE"/>
    </xsl:call-template>
    <xsl:call-template name="section">
      <xsl:with-param name="title">Phone and e-mail</xsl:with-param>
      <xsl:with-param name="items" select="TEL | EMAIL | MAILER"/>
    </xsl:call-template>
    <xsl:call-template name="section">
      <xsl:with-param name="title">Addresses</xsl:with-param>
      <xsl:with-param name="items" select="ADR | LABEL | GEO | TZ"/>
    </xsl:call-template>
    <xsl:call-template name="section">
      <xsl:with-param name="title">More</xsl:with-param>
      <xsl:with-param name="items" select="URL | CATEGORIES | NOTE | CLASS | UID | REV | PRODID | VERSION
          | *[not(self::FN or self::N or self::NICKNAME or self::SORTSTR or self::BDAY or self::ORG
                  or self::TITLE or self::ROLE or self::TEL or self::EMAIL or self::MAILER or self::ADR
                  or self::LABEL or self::GEO or self::TZ or self::URL or self::CATEGORIES or self::NOTE
                  or self::CLASS or self::UID or self::REV or self::PRODID or self::VERSION
                  or self::OWNER or self::ID or self::RESOURCE)]"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template name="section">
    <xsl:param name="title"/>
    <xsl:param name="items"/>
    <xsl:if test="$items">
      <div class="panel">
        <h2><xsl:value-of select="$title"/></h2>
        <table class="details">
          <tbody>
            <xsl:apply-templates select="$items" mode="row"/>
          </tbody>
        </table>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template name="row">
    <xsl:param name="label"/>
    <xsl:param name="value"/>
    <tr>
      <th scope="row"><xsl:copy-of select="$label"/></th>
      <td><xsl:copy-of select="$value"/></td>
    </tr>
  </xsl:template>

  <!-- The marker elements of a phone, e-mail, address or label as small tags. -->
  <xsl:template name="markers">
    <xsl:for-each select="*[not(node())][not(self::NUMBER or self::USERID or self::LINE)]">
      <span class="tag"><xsl:call-template name="marker-label"/></span>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="FN" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Formatted name</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="N" mode="row">
    <xsl:apply-templates select="PREFIX | GIVEN | MIDDLE | FAMILY | SUFFIX" mode="row"/>
  </xsl:template>

  <xsl:template match="N/*" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">
        <xsl:choose>
          <xsl:when test="self::FAMILY">Family name</xsl:when>
          <xsl:when test="self::GIVEN">Given name</xsl:when>
          <xsl:when test="self::MIDDLE">Middle name</xsl:when>
          <xsl:when test="self::PREFIX">Prefix</xsl:when>
          <xsl:when test="self::SUFFIX">Suffix</xsl:when>
          <xsl:otherwise><xsl:value-of select="local-name()"/></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="NICKNAME" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Nickname</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="SORTSTR" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Sorted as</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="BDAY" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Birthday</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="ORG" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Organisation</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="ORGNAME"/></xsl:with-param>
    </xsl:call-template>
    <xsl:for-each select="ORGUNIT">
      <xsl:call-template name="row">
        <xsl:with-param name="label">Unit</xsl:with-param>
        <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
      </xsl:call-template>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="TITLE" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Title</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="ROLE" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Role</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="TEL" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Phone</xsl:with-param>
      <xsl:with-param name="value">
        <a href="tel:{translate(normalize-space(NUMBER), ' ', '')}"><xsl:value-of select="NUMBER"/></a>
        <xsl:call-template name="markers"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="EMAIL" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">E-mail</xsl:with-param>
      <xsl:with-param name="value">
        <a href="mailto:{normalize-space(USERID)}"><xsl:value-of select="USERID"/></a>
        <xsl:call-template name="markers"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="MAILER" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Mail program</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="ADR" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Address</xsl:with-param>
      <xsl:with-param name="value">
        <div class="address">
          <xsl:if test="POBOX">
            <div><xsl:value-of select="concat('PO Box ', POBOX)"/></div>
          </xsl:if>
          <xsl:for-each select="EXTADR | STREET">
            <div class="pre"><xsl:value-of select="."/></div>
          </xsl:for-each>
          <xsl:if test="LOCALITY | REGION | PCODE">
            <div>
              <xsl:value-of select="PCODE"/>
              <xsl:if test="PCODE and (LOCALITY | REGION)"><xsl:text> </xsl:text></xsl:if>
              <xsl:value-of select="LOCALITY"/>
              <xsl:if test="LOCALITY and REGION"><xsl:text>, </xsl:text></xsl:if>
              <xsl:value-of select="REGION"/>
            </div>
          </xsl:if>
          <xsl:if test="CTRY">
            <div><xsl:value-of select="CTRY"/></div>
          </xsl:if>
        </div>
        <xsl:call-template name="markers"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="LABEL" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Address label</xsl:with-param>
      <xsl:with-param name="value">
        <div class="pre"><xsl:value-of select="LINE"/></div>
        <xsl:call-template name="markers"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="GEO" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Position</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:value-of select="concat('latitude ', LAT, ', longitude ', LON)"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="TZ" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Time zone</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="URL" mode="row">
    <xsl:variable name="address" select="normalize-space(.)"/>
    <xsl:variable name="scheme" select="translate(substring-before($address, ':'), $upper, $lower)"/>
    <xsl:call-template name="row">
      <xsl:with-param name="label">Web page</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:choose>
          <!-- Only web addresses become links: a script address must not. -->
          <xsl:when test="$scheme = 'http' or $scheme = 'https'">
            <a href="{$address}" rel="noopener noreferrer"><xsl:value-of select="."/></a>
          </xsl:when>
          <xsl:when test="not(contains($address, ':')) and contains($address, '.') and not(contains($address, ' '))">
            <a href="http://{$address}" rel="noopener noreferrer"><xsl:value-of select="."/></a>
          </xsl:when>
          <xsl:otherwise><xsl:value-of select="."/></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="CATEGORIES" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Categories</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:for-each select="KEYWORD">
          <span class="tag"><xsl:value-of select="."/></span>
        </xsl:for-each>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="NOTE" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Note</xsl:with-param>
      <xsl:with-param name="value"><div class="pre"><xsl:value-of select="."/></div></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="CLASS" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Access class</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:value-of select="translate(local-name(*[1]), $upper, $lower)"/>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="UID" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Unique identifier</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="REV" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Revised</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="PRODID" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">Made by</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="VERSION" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">vCard version</xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <!-- A picture is shown from the record itself; a reference is only named,
       so that opening a card never fetches anything from elsewhere. -->
  <xsl:template match="PHOTO | LOGO" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">
        <xsl:choose>
          <xsl:when test="self::PHOTO">Photo</xsl:when>
          <xsl:otherwise>Logo</xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
      <xsl:with-param name="value">
        <xsl:choose>
          <xsl:when test="BINVAL">
            <img class="card-photo" src="photo?ID={../ID[1]}&amp;KIND={local-name()}" alt="{local-name()}"/>
          </xsl:when>
          <xsl:otherwise><xsl:value-of select="EXTVAL"/></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="SOUND | KEY" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">
        <xsl:choose>
          <xsl:when test="self::SOUND">Sound</xsl:when>
          <xsl:otherwise>Key</xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
      <xsl:with-param name="value">
        <xsl:choose>
          <xsl:when test="BINVAL"><xsl:value-of select="concat(TYPE, ' (', string-length(BINVAL), ' characters of data)')"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="EXTVAL"/></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <!-- Every other property: its name (without "X-") and its value. -->
  <xsl:template match="PROP" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label">
        <xsl:choose>
          <xsl:when test="starts-with(translate(NAME, $lower, $upper), 'X-')"><xsl:value-of select="substring(NAME, 3)"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="NAME"/></xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="VALUE"/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <!-- The group and parameters of the element before: not shown. -->
  <xsl:template match="PARAMS" mode="row"/>

  <!-- Elements the pages do not know are shown by name. -->
  <xsl:template match="*" mode="row">
    <xsl:call-template name="row">
      <xsl:with-param name="label"><xsl:value-of select="local-name()"/></xsl:with-param>
      <xsl:with-param name="value"><xsl:value-of select="."/></xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
