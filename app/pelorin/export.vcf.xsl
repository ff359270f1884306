<?xml version="1.0" encoding="UTF-8"?>
<!-- The user's own cards as vCard 2.1 text. The service's own import reads
     it back to the same elements (the identifier and owner are given anew, and
     every card comes back with VERSION 2.1). Values with line breaks or
     letters beyond ASCII are written quoted-printable; the body is served in
     ISO-8859-1, so such lines name that character set. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">

  <xsl:include href="common.xsl"/>

  <xsl:output method="text" encoding="UTF-8"/>

  <xsl:variable name="crlf" select="'&#13;&#10;'"/>

  <xsl:template match="/">
    <xsl:for-each select="/*/vCard[OWNER = $USER]">
      <xsl:sort select="translate(concat(N/FAMILY, substring(FN, 1, 1000 * not(N/FAMILY))), $upper, $lower)"/>
      <xsl:sort select="translate(N/GIVEN, $upper, $lower)"/>
      <xsl:value-of select="concat('BEGIN:VCARD', $crlf, 'VERSION:2.1', $crlf)"/>
      <xsl:apply-templates select="*" mode="vcf"/>
      <xsl:value-of select="concat('END:VCARD', $crlf)"/>
    </xsl:for-each>
  </xsl:template>

  <!-- One property line: name (with its type words), ":" and the value. -->
  <xsl:template name="line">
    <xsl:param name="name"/>
    <xsl:param name="value"/>
    <xsl:variable name="beyond-ascii" select="translate($value, $ascii-all, '')"/>
    <xsl:choose>
      <xsl:when test="$beyond-ascii = '' and not(contains($value, '&#10;')) and not(contains($value, '&#13;'))">
        <xsl:value-of select="concat($name, ':', $value, $crlf)"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="$name"/>
        <xsl:if test="$beyond-ascii != ''">;CHARSET=ISO-8859-1</xsl:if>
        <xsl:text>;ENCODING=QUOTED-PRINTABLE:</xsl:text>
        <xsl:call-template name="quoted-printable">
          <xsl:with-param name="text" select="$value"/>
        </xsl:call-template>
        <xsl:value-of select="$crlf"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Quoted-printable on one physical line: "=" and the letters beyond
       ASCII as =XX (ISO-8859-1), line breaks as =0D=0A, a blank at the very
       end encoded so that no reader trims it. -->
  <xsl:template name="quoted-printable">
    <xsl:param name="text"/>
    <xsl:variable name="equals">
      <xsl:call-template name="replace-char">
        <xsl:with-param name="text" select="translate($text, '&#13;', '')"/>
        <xsl:with-param name="char" select="'='"/>
        <xsl:with-param name="by" select="'=3D'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="breaks">
      <xsl:call-template name="replace-char">
        <xsl:with-param name="text" select="$equals"/>
        <xsl:with-param name="char" select="'&#10;'"/>
        <xsl:with-param name="by" select="'=0D=0A'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="encoded">
      <xsl:call-template name="encode-high">
        <xsl:with-param name="text" select="$breaks"/>
        <xsl:with-param name="chars" select="translate($breaks, $ascii-all, '')"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="last" select="substring($encoded, string-length($encoded))"/>
    <xsl:choose>
      <xsl:when test="$last = ' '">
        <xsl:value-of select="concat(substring($encoded, 1, string-length($encoded) - 1), '=20')"/>
      </xsl:when>
      <xsl:when test="$last = '&#9;'">
        <xsl:value-of select="concat(substring($encoded, 1, string-length($encoded) - 1), '=09')"/>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$encoded"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Replaces each character of `chars` in `text` by its ISO-8859-1 code as
       =XX, or by "?" when that character set has no such letter. -->
  <xsl:template name="encode-high">
    <xsl:param name="text"/>
    <xsl:param name="chars"/>
    <xsl:choose>
      <xsl:when test="$chars = ''"><xsl:value-of select="$text"/></xsl:when>
      <xsl:otherwise>
        <xsl:variable name="char" select="substring($chars, 1, 1)"/>
        <xsl:variable name="by">
          <xsl:choose>
            <xsl:when test="contains($latin1-high, $char)">
              <xsl:variable name="code" select="128 + string-length(substring-before($latin1-high, $char))"/>
              <xsl:value-of select="concat('=', substring($hex-digits, floor($code div 16) + 1, 1),
                                           substring($hex-digits, $code mod 16 + 1, 1))"/>
            </xsl:when>
            <xsl:otherwise>?</xsl:otherwise>
          </xsl:choose>
        </xsl:variable>
        <xsl:variable name="replaced">
          <xsl:call-template name="replace-char">
            <xsl:with-param name="text" select="$text"/>
            <xsl:with-param name="char" select="$char"/>
            <xsl:with-param name="by" select="$by"/>
          </xsl:call-template>
        </xsl:variable>
        <xsl:call-template name="encode-high">
          <xsl:with-param name="text" select="$replaced"/>
          <xsl:with-param name="chars" select="translate($chars, $char, '')"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A component of a structured value: its ";" escaped as vCard 2.1 asks. -->
  <xsl:template name="component">
    <xsl:param name="text"/>
    <xsl:call-template name="replace-char">
      <xsl:with-param name="text" select="$text"/>
      <xsl:with-param name="char" select="';'"/>
      <xsl:with-param name="by" select="'\;'"/>
    </xsl:call-template>
  </xsl:template>

  <!-- ";" and the name of each type marker of the context element. -->
  <xsl:template name="type-words">
    <xsl:for-each select="*[not(self::NUMBER or self::USERID or self::LINE or self::POBOX or self::EXTADR
                               or self::STREET or self::LOCALITY or self::REGION or self::PCODE or self::CTRY)]">
      <xsl:value-of select="concat(';', local-name())"/>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="FN | BDAY | MAILER | TZ | TITLE | ROLE | NOTE | PRODID | REV | URL | UID | NICKNAME" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name" select="local-name()"/>
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="SORTSTR" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">SORT-STRING</xsl:with-param>
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="N" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">N</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:call-template name="component"><xsl:with-param name="text" select="FAMILY"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="GIVEN"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="MIDDLE"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="PREFIX"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="SUFFIX"/></xsl:call-template>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="ADR" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">ADR<xsl:call-template name="type-words"/></xsl:with-param>
      <xsl:with-param name="value">
        <xsl:call-template name="component"><xsl:with-param name="text" select="POBOX"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="EXTADR"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="STREET"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="LOCALITY"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="REGION"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="PCODE"/></xsl:call-template>
        <xsl:text>;</xsl:text>
        <xsl:call-template name="component"><xsl:with-param name="text" select="CTRY"/></xsl:call-template>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="LABEL" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">LABEL<xsl:call-template name="type-words"/></xsl:with-param>
      <xsl:with-param name="value" select="string(LINE)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="TEL" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">TEL<xsl:call-template name="type-words"/></xsl:with-param>
      <xsl:with-param name="value" select="string(NUMBER)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="EMAIL" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">EMAIL<xsl:call-template name="type-words"/></xsl:with-param>
      <xsl:with-param name="value" select="string(USERID)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="GEO" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">GEO</xsl:with-param>
      <xsl:with-param name="value" select="concat(LAT, ';', LON)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="ORG" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">ORG</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:call-template name="component"><xsl:with-param name="text" select="ORGNAME"/></xsl:call-template>
        <xsl:for-each select="ORGUNIT">
          <xsl:choose>
            <xsl:when test="position() = 1">;</xsl:when>
            <xsl:otherwise>,</xsl:otherwise>
          </xsl:choose>
          <xsl:value-of select="."/>
        </xsl:for-each>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="CATEGORIES" mode="vcf">
    <xsl:call-template name="line">
      <xsl:with-param name="name">CATEGORIES</xsl:with-param>
      <xsl:with-param name="value">
        <xsl:for-each select="KEYWORD">
          <xsl:if test="position() &gt; 1">,</xsl:if>
          <xsl:value-of select="."/>
        </xsl:for-each>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="CLASS[*]" mode="vcf">
    <xsl:value-of select="concat('CLASS:', local-name(*[1]), $crlf)"/>
  </xsl:template>

  <!-- VERSION is written once at the top; owner, identifier and elements
       vCard has no property for stay in the store. -->
  <xsl:template match="*" mode="vcf"/>

</xsl:stylesheet>
