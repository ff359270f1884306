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

  <!-- What a line may hold as it is: printable ASCII and tab, the most
       frequent letters first because translate() looks each character up in
       this list from its start. -->
  <xsl:variable name="plain-line-text"><xsl:text>etaoinsrhldcumfpgwybvkxjqz 0123456789ETAOINSRHLDCUMFPGWYBVKXJQZ.-@,:;+/()'_!"#$%&amp;*&lt;=&gt;?[\]^`{|}~&#9;</xsl:text></xsl:variable>
  <xsl:variable name="plain-line" select="string($plain-line-text)"/>
  <!-- What quoted-printable writes as it is. -->
  <xsl:variable name="plain-qp" select="translate($plain-line, '=', '')"/>

  <xsl:template match="/">
    <xsl:for-each select="/*/vCard[OWNER = $USER]">
      <xsl:sort select="translate(concat(N/FAMILY, substring(FN, 1, 1000 * not(N/FAMILY))), $upper, $lower)"/>
      <xsl:sort select="translate(N/GIVEN, $upper, $lower)"/>
      <xsl:value-of select="concat('BEGIN:VCARD', $crlf, 'VERSION:2.1', $crlf)"/>
      <xsl:apply-templates select="*" mode="vcf"/>
      <xsl:value-of select="concat('END:VCARD', $crlf)"/>
    </xsl:for-each>
  </xsl:template>

  <!-- The rest of a property line after its name (and type words): ":" and
       the value, or the value quoted-printable. The templates below write the
       name straight to the output and hand over the value as a string, since
       building either as a result-tree fragment costs more than the whole
       plain line. -->
  <xsl:template name="line-value">
    <xsl:param name="value"/>
    <!-- The characters that keep the value from being written as it is;
         translate() is the costly step, so it runs once per value. -->
    <xsl:variable name="specials" select="translate($value, $plain-line, '')"/>
    <xsl:choose>
      <xsl:when test="$specials = ''">
        <xsl:value-of select="concat(':', $value, $crlf)"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:if test="translate($specials, '&#10;&#13;', '') != ''">;CHARSET=ISO-8859-1</xsl:if>
        <xsl:text>;ENCODING=QUOTED-PRINTABLE:</xsl:text>
        <xsl:call-template name="quoted-printable">
          <xsl:with-param name="text" select="$value"/>
          <xsl:with-param name="specials" select="$specials"/>
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
    <!-- The characters of `text` outside printable ASCII and tab, in order. -->
    <xsl:param name="specials" select="translate($text, $plain-line, '')"/>
    <xsl:variable name="bare" select="translate($text, '&#13;', '')"/>
    <xsl:variable name="last" select="substring($bare, string-length($bare))"/>
    <xsl:choose>
      <xsl:when test="$last = ' ' or $last = '&#9;'">
        <xsl:variable name="body" select="substring($bare, 1, string-length($bare) - 1)"/>
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="$body"/>
          <xsl:with-param name="specials" select="translate($body, $plain-qp, '')"/>
        </xsl:call-template>
        <xsl:value-of select="substring('=20=09', 1 + 3 * ($last = '&#9;'), 3)"/>
      </xsl:when>
      <xsl:when test="contains($bare, '=')">
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="$bare"/>
          <xsl:with-param name="specials" select="translate($bare, $plain-qp, '')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="$bare"/>
          <xsl:with-param name="specials" select="translate($specials, '&#13;', '')"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Writes `text` (no carriage returns) with each of its `specials`, the
       characters that need a code, in their order, encoded. Long runs of
       specials are split in halves to keep the recursion shallow. -->
  <xsl:template name="quoted-printable-text">
    <xsl:param name="text"/>
    <xsl:param name="specials"/>
    <xsl:choose>
      <xsl:when test="$specials = ''">
        <xsl:value-of select="$text"/>
      </xsl:when>
      <xsl:when test="string-length($specials) &gt; 32">
        <xsl:variable name="half" select="floor(string-length($text) div 2)"/>
        <xsl:variable name="first" select="substring($text, 1, $half)"/>
        <xsl:variable name="second" select="substring($text, $half + 1)"/>
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="$first"/>
          <xsl:with-param name="specials" select="translate($first, $plain-qp, '')"/>
        </xsl:call-template>
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="$second"/>
          <xsl:with-param name="specials" select="translate($second, $plain-qp, '')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="char" select="substring($specials, 1, 1)"/>
        <xsl:value-of select="substring-before($text, $char)"/>
        <xsl:choose>
          <xsl:when test="$char = '='">=3D</xsl:when>
          <xsl:when test="$char = '&#10;'">=0D=0A</xsl:when>
          <xsl:when test="contains($latin1-high, $char)">
            <xsl:variable name="code" select="128 + string-length(substring-before($latin1-high, $char))"/>
            <xsl:value-of select="concat('=', substring($hex-digits, floor($code div 16) + 1, 1),
                                         substring($hex-digits, $code mod 16 + 1, 1))"/>
          </xsl:when>
          <xsl:otherwise>?</xsl:otherwise>
        </xsl:choose>
        <xsl:call-template name="quoted-printable-text">
          <xsl:with-param name="text" select="substring-after($text, $char)"/>
          <xsl:with-param name="specials" select="substring($specials, 2)"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A component of a structured value: its ";" escaped as vCard 2.1 asks. -->
  <xsl:template name="component">
    <xsl:param name="text"/>
    <xsl:choose>
      <xsl:when test="contains($text, ';')">
        <xsl:call-template name="replace-char">
          <xsl:with-param name="text" select="string($text)"/>
          <xsl:with-param name="char" select="';'"/>
          <xsl:with-param name="by" select="'\;'"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$text"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- ";" and the name of each type marker of the context element. -->
  <xsl:template name="type-words">
    <xsl:for-each select="*[not(self::NUMBER or self::USERID or self::LINE or self::POBOX or self::EXTADR
                               or self::STREET or self::LOCALITY or self::REGION or self::PCODE or self::CTRY)]">
      <xsl:value-of select="concat(';', local-name())"/>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="FN | BDAY | MAILER | TZ | TITLE | ROLE | NOTE | PRODID | REV | URL | UID | NICKNAME" mode="vcf">
    <xsl:value-of select="local-name()"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="SORTSTR" mode="vcf">
    <xsl:text>SORT-STRING</xsl:text>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="N" mode="vcf">
    <xsl:text>N</xsl:text>
    <xsl:choose>
      <xsl:when test="not(contains(concat(FAMILY, GIVEN, MIDDLE, PREFIX, SUFFIX), ';'))">
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="concat(FAMILY, ';', GIVEN, ';', MIDDLE, ';', PREFIX, ';', SUFFIX)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="value">
          <xsl:call-template name="component"><xsl:with-param name="text" select="FAMILY"/></xsl:call-template>
          <xsl:text>;</xsl:text>
          <xsl:call-template name="component"><xsl:with-param name="text" select="GIVEN"/></xsl:call-template>
          <xsl:text>;</xsl:text>
          <xsl:call-template name="component"><xsl:with-param name="text" select="MIDDLE"/></xsl:call-template>
          <xsl:text>;</xsl:text>
          <xsl:call-template name="component"><xsl:with-param name="text" select="PREFIX"/></xsl:call-template>
          <xsl:text>;</xsl:text>
          <xsl:call-template name="component"><xsl:with-param name="text" select="SUFFIX"/></xsl:call-template>
        </xsl:variable>
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="string($value)"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="ADR" mode="vcf">
    <xsl:text>ADR</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:choose>
      <xsl:when test="not(contains(concat(POBOX, EXTADR, STREET, LOCALITY, REGION, PCODE, CTRY), ';'))">
        <xsl:call-template name="line-value">
          <xsl:with-param name="value"
                          select="concat(POBOX, ';', EXTADR, ';', STREET, ';', LOCALITY, ';', REGION, ';', PCODE, ';', CTRY)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="value">
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
        </xsl:variable>
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="string($value)"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="LABEL" mode="vcf">
    <xsl:text>LABEL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(LINE)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="TEL" mode="vcf">
    <xsl:text>TEL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(NUMBER)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="EMAIL" mode="vcf">
    <xsl:text>EMAIL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(USERID)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="GEO" mode="vcf">
    <xsl:text>GEO</xsl:text>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="concat(LAT, ';', LON)"/>
    </xsl:call-template>
  </xsl:template>

  <!-- The name with its ";" escaped, then the units (written as they are). -->
  <xsl:template match="ORG" mode="vcf">
    <xsl:text>ORG</xsl:text>
    <xsl:choose>
      <xsl:when test="not(ORGUNIT[2]) and not(contains(ORGNAME, ';'))">
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="concat(ORGNAME, substring(';', 2 - count(ORGUNIT)), ORGUNIT)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="value">
          <xsl:call-template name="component"><xsl:with-param name="text" select="ORGNAME"/></xsl:call-template>
          <xsl:for-each select="ORGUNIT">
            <xsl:text>;</xsl:text>
            <xsl:call-template name="component"><xsl:with-param name="text" select="."/></xsl:call-template>
          </xsl:for-each>
        </xsl:variable>
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="string($value)"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="CATEGORIES" mode="vcf">
    <xsl:text>CATEGORIES</xsl:text>
    <xsl:choose>
      <xsl:when test="not(KEYWORD[3])">
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="concat(KEYWORD, substring(',', 2 - count(KEYWORD[2])), KEYWORD[2])"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="value">
          <xsl:for-each select="KEYWORD">
            <xsl:if test="position() &gt; 1">,</xsl:if>
            <xsl:value-of select="."/>
          </xsl:for-each>
        </xsl:variable>
        <xsl:call-template name="line-value">
          <xsl:with-param name="value" select="string($value)"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="CLASS[*]" mode="vcf">
    <xsl:value-of select="concat('CLASS:', local-name(*[1]), $crlf)"/>
  </xsl:template>

  <!-- VERSION is written once at the top; owner, identifier and elements
       vCard has no property for stay in the store. -->
  <xsl:template match="*" mode="vcf"/>

</xsl:stylesheet>
