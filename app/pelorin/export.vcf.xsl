<?xml version="1.0" encoding="UTF-8"?>
<!-- The user's own cards as vCard 2.1 text, every property of them. The
     service's own import reads it back to the same elements (the identifier
     and owner are given anew, and every card comes back with VERSION 2.1).
     Values with line breaks or letters beyond ASCII are written
     quoted-printable in UTF-8 (CHARSET=UTF-8), which vCard 2.1 readers
     decode without guessing; the body is UTF-8. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:pv="urn:pelorin:xslt" exclude-result-prefixes="pv">

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
        <xsl:if test="translate($specials, '&#10;&#13;', '') != ''">;CHARSET=UTF-8</xsl:if>
        <xsl:text>;ENCODING=QUOTED-PRINTABLE:</xsl:text>
        <xsl:value-of select="pv:quoted-printable-utf8($value)"/>
        <xsl:value-of select="$crlf"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The group of the property at the context ("item1."), from the PARAMS
       that follows its element. -->
  <xsl:template name="group">
    <xsl:variable name="group" select="following-sibling::*[1][self::PARAMS]/GROUP"/>
    <xsl:if test="$group != ''"><xsl:value-of select="concat($group, '.')"/></xsl:if>
  </xsl:template>

  <!-- ";NAME=value,value" for each parameter kept in PARAM elements of `params`;
       a value holding ":" ";" or "," is quoted. -->
  <xsl:template name="parameters">
    <xsl:param name="params" select="following-sibling::*[1][self::PARAMS]"/>
    <!-- Beside a PREF marker, PREF=n went out with the type words. -->
    <xsl:for-each select="$params/PARAM[not(NAME = 'PREF' and current()/PREF)]">
      <xsl:value-of select="concat(';', NAME)"/>
      <xsl:for-each select="VALUE">
        <xsl:value-of select="substring('=,', 1 + (position() &gt; 1), 1)"/>
        <xsl:choose>
          <xsl:when test="contains(., ':') or contains(., ';') or contains(., ',')">
            <xsl:value-of select="concat('&quot;', translate(., '&quot;', ''), '&quot;')"/>
          </xsl:when>
          <xsl:otherwise><xsl:value-of select="."/></xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
    </xsl:for-each>
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
    <!-- A PREF=n kept in PARAMS is written in the place of the PREF marker. -->
    <xsl:variable name="numbered-pref" select="following-sibling::*[1][self::PARAMS]/PARAM[NAME = 'PREF']"/>
    <xsl:for-each select="*[not(self::NUMBER or self::USERID or self::LINE or self::POBOX or self::EXTADR
                               or self::STREET or self::LOCALITY or self::REGION or self::PCODE or self::CTRY)]">
      <xsl:choose>
        <xsl:when test="self::PREF and $numbered-pref">
          <xsl:value-of select="concat(';PREF=', $numbered-pref[1]/VALUE)"/>
        </xsl:when>
        <xsl:otherwise><xsl:value-of select="concat(';', local-name())"/></xsl:otherwise>
      </xsl:choose>
    </xsl:for-each>
  </xsl:template>

  <xsl:template match="FN | BDAY | MAILER | TZ | TITLE | ROLE | NOTE | PRODID | REV | URL | UID | NICKNAME" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:value-of select="local-name()"/>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="SORTSTR" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>SORT-STRING</xsl:text>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(.)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="N" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>N</xsl:text>
    <xsl:call-template name="parameters"/>
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
    <xsl:call-template name="group"/>
    <xsl:text>ADR</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="parameters"/>
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
    <xsl:call-template name="group"/>
    <xsl:text>LABEL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(LINE)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="TEL" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>TEL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(NUMBER)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="EMAIL" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>EMAIL</xsl:text>
    <xsl:call-template name="type-words"/>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(USERID)"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="GEO" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>GEO</xsl:text>
    <xsl:call-template name="parameters"/>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="concat(LAT, ';', LON)"/>
    </xsl:call-template>
  </xsl:template>

  <!-- The name with its ";" escaped, then the units (written as they are). -->
  <xsl:template match="ORG" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:text>ORG</xsl:text>
    <xsl:call-template name="parameters"/>
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
    <xsl:call-template name="group"/>
    <xsl:text>CATEGORIES</xsl:text>
    <xsl:call-template name="parameters"/>
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
    <xsl:call-template name="group"/>
    <xsl:text>CLASS</xsl:text>
    <xsl:call-template name="parameters"/>
    <xsl:value-of select="concat(':', local-name(*[1]), $crlf)"/>
  </xsl:template>

  <!-- Binary data as 2.1 writes it: base64 on one line, then the empty line
       that ends it; a reference as a URL value. -->
  <xsl:template match="PHOTO | LOGO | SOUND | KEY" mode="vcf">
    <xsl:call-template name="group"/>
    <xsl:value-of select="local-name()"/>
    <xsl:choose>
      <xsl:when test="EXTVAL">
        <xsl:call-template name="parameters"/>
        <xsl:value-of select="concat(';VALUE=URL:', EXTVAL, $crlf)"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:text>;ENCODING=BASE64</xsl:text>
        <xsl:if test="contains(TYPE, '/')">
          <xsl:value-of select="concat(';TYPE=', translate(substring-after(TYPE, '/'), $lower, $upper))"/>
        </xsl:if>
        <xsl:call-template name="parameters"/>
        <xsl:value-of select="concat(':', BINVAL, $crlf, $crlf)"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Every other property, kept whole: its value as it was written. -->
  <xsl:template match="PROP" mode="vcf">
    <xsl:if test="GROUP != ''"><xsl:value-of select="concat(GROUP, '.')"/></xsl:if>
    <xsl:value-of select="NAME"/>
    <xsl:call-template name="parameters"><xsl:with-param name="params" select="."/></xsl:call-template>
    <xsl:call-template name="line-value">
      <xsl:with-param name="value" select="string(VALUE)"/>
    </xsl:call-template>
  </xsl:template>

  <!-- VERSION is written once at the top; owner, identifier, PARAMS (written
       with its element) and elements vCard has no property for stay in the
       store. -->
  <xsl:template match="*" mode="vcf"/>

</xsl:stylesheet>
