<?xml version="1.0" encoding="UTF-8"?>
<!-- Helpers shared by every page of the three areas: the parameters the
     server hands to each page, case folding, and the escaping of values put
     into XPath literals, URLs, WML text and vCard lines. Recursions split long
     strings in halves so that no text a user enters can exhaust the
     processor's template depth. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">

  <!-- Set by the server on every page. -->
  <xsl:param name="USER"/>
  <xsl:param name="NAME"/>
  <xsl:param name="ADMIN"/>
  <xsl:param name="VERSION"/>
  <!-- "true" while the first-run account still has its first-run password. -->
  <xsl:param name="DEFAULTPASSWORD"/>

  <xsl:variable name="is-admin" select="$ADMIN = 'true'"/>

  <!-- Letters folded for searching and sorting: ASCII and the Latin-1 letters. -->
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ&#192;&#193;&#194;&#195;&#196;&#197;&#198;&#199;&#200;&#201;&#202;&#203;&#204;&#205;&#206;&#207;&#208;&#209;&#210;&#211;&#212;&#213;&#214;&#216;&#217;&#218;&#219;&#220;&#221;&#222;'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz&#224;&#225;&#226;&#227;&#228;&#229;&#230;&#231;&#232;&#233;&#234;&#235;&#236;&#237;&#238;&#239;&#240;&#241;&#242;&#243;&#244;&#245;&#246;&#248;&#249;&#250;&#251;&#252;&#253;&#254;'"/>

  <!-- Printable ASCII in code order, starting at the blank (32). -->
  <xsl:variable name="ascii-printable"><xsl:text> !"#$%&amp;'()*+,-./0123456789:;&lt;=&gt;?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\]^_`abcdefghijklmnopqrstuvwxyz{|}~</xsl:text></xsl:variable>
  <!-- Everything a 7-bit line may hold: printable ASCII, tab, line feed, carriage return. -->
  <xsl:variable name="ascii-all" select="concat($ascii-printable, '&#9;&#10;&#13;')"/>
  <!-- The characters 128 to 255 in code order. -->
  <xsl:variable name="latin1-high" select="'&#128;&#129;&#130;&#131;&#132;&#133;&#134;&#135;&#136;&#137;&#138;&#139;&#140;&#141;&#142;&#143;&#144;&#145;&#146;&#147;&#148;&#149;&#150;&#151;&#152;&#153;&#154;&#155;&#156;&#157;&#158;&#159;&#160;&#161;&#162;&#163;&#164;&#165;&#166;&#167;&#168;&#169;&#170;&#171;&#172;&#173;&#174;&#175;&#176;&#177;&#178;&#179;&#180;&#181;&#182;&#183;&#184;&#185;&#186;&#187;&#188;&#189;&#190;&#191;&#192;&#193;&#194;&#195;&#196;&#197;&#198;&#199;&#200;&#201;&#202;&#203;&#204;&#205;&#206;&#207;&#208;&#209;&#210;&#211;&#212;&#213;&#214;&#215;&#216;&#217;&#218;&#219;&#220;&#221;&#222;&#223;&#224;&#225;&#226;&#227;&#228;&#229;&#230;&#231;&#232;&#233;&#234;&#235;&#236;&#237;&#238;&#239;&#240;&#241;&#242;&#243;&#244;&#245;&#246;&#247;&#248;&#249;&#250;&#251;&#252;&#253;&#254;&#255;'"/>
  <xsl:variable name="hex-digits" select="'0123456789ABCDEF'"/>
  <xsl:variable name="url-safe" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~'"/>

  <!-- Replaces every occurrence of the single character `char` by `by`. -->
  <xsl:template name="replace-char">
    <xsl:param name="text"/>
    <xsl:param name="char"/>
    <xsl:param name="by"/>
    <xsl:choose>
      <xsl:when test="not(contains($text, $char))">
        <xsl:value-of select="$text"/>
      </xsl:when>
      <xsl:when test="string-length($text) &gt; 128">
        <xsl:variable name="half" select="floor(string-length($text) div 2)"/>
        <xsl:call-template name="replace-char">
          <xsl:with-param name="text" select="substring($text, 1, $half)"/>
          <xsl:with-param name="char" select="$char"/>
          <xsl:with-param name="by" select="$by"/>
        </xsl:call-template>
        <xsl:call-template name="replace-char">
          <xsl:with-param name="text" select="substring($text, $half + 1)"/>
          <xsl:with-param name="char" select="$char"/>
          <xsl:with-param name="by" select="$by"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="concat(substring-before($text, $char), $by)"/>
        <xsl:call-template name="replace-char">
          <xsl:with-param name="text" select="substring-after($text, $char)"/>
          <xsl:with-param name="char" select="$char"/>
          <xsl:with-param name="by" select="$by"/>
        </xsl:call-template>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- An XPath string literal holding exactly `value`, whatever quotes it has. -->
  <xsl:template name="xpath-literal">
    <xsl:param name="value"/>
    <xsl:choose>
      <xsl:when test="not(contains($value, &quot;'&quot;))">
        <xsl:value-of select="concat(&quot;'&quot;, $value, &quot;'&quot;)"/>
      </xsl:when>
      <xsl:when test="not(contains($value, '&quot;'))">
        <xsl:value-of select="concat('&quot;', $value, '&quot;')"/>
      </xsl:when>
      <xsl:otherwise>
        <!-- Both kinds: concat('...', "'", '...') -->
        <xsl:text>concat('</xsl:text>
        <xsl:call-template name="replace-char">
          <xsl:with-param name="text" select="$value"/>
          <xsl:with-param name="char" select="&quot;'&quot;"/>
          <xsl:with-param name="by" select="concat(&quot;', &quot;, '&quot;', &quot;'&quot;, '&quot;', &quot;, '&quot;)"/>
        </xsl:call-template>
        <xsl:text>')</xsl:text>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The record a page addresses: store element / record element [key = 'value']. -->
  <xsl:template name="record-xpath">
    <xsl:param name="record"/>
    <xsl:param name="key"/>
    <xsl:param name="value"/>
    <xsl:value-of select="concat(name(/*), '/', $record, '[', $key, '=')"/>
    <xsl:call-template name="xpath-literal">
      <xsl:with-param name="value" select="$value"/>
    </xsl:call-template>
    <xsl:text>]</xsl:text>
  </xsl:template>

  <!-- Percent-encodes a value for a query string. Printable ASCII is encoded
       by its code; other characters are left to the browser. -->
  <xsl:template name="url-encode">
    <xsl:param name="text"/>
    <xsl:choose>
      <xsl:when test="translate($text, $url-safe, '') = ''">
        <xsl:value-of select="$text"/>
      </xsl:when>
      <xsl:when test="string-length($text) &gt; 1">
        <xsl:variable name="half" select="floor(string-length($text) div 2)"/>
        <xsl:call-template name="url-encode">
          <xsl:with-param name="text" select="substring($text, 1, $half)"/>
        </xsl:call-template>
        <xsl:call-template name="url-encode">
          <xsl:with-param name="text" select="substring($text, $half + 1)"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:when test="contains($ascii-printable, $text)">
        <xsl:variable name="code" select="32 + string-length(substring-before($ascii-printable, $text))"/>
        <xsl:value-of select="concat('%', substring($hex-digits, floor($code div 16) + 1, 1), substring($hex-digits, $code mod 16 + 1, 1))"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="$text"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The name a card is listed under. -->
  <xsl:template name="card-title">
    <xsl:param name="card" select="."/>
    <xsl:variable name="family" select="string($card/N/FAMILY)"/>
    <xsl:variable name="given" select="normalize-space(concat($card/N/GIVEN, ' ', $card/N/MIDDLE))"/>
    <xsl:choose>
      <xsl:when test="$family != '' and $given != ''">
        <xsl:value-of select="concat($family, ', ', $given)"/>
      </xsl:when>
      <xsl:when test="$family != '' or $given != ''">
        <xsl:value-of select="concat($family, $given)"/>
      </xsl:when>
      <xsl:when test="normalize-space($card/FN) != ''">
        <xsl:value-of select="$card/FN"/>
      </xsl:when>
      <xsl:when test="normalize-space($card/ORG/ORGNAME) != ''">
        <xsl:value-of select="$card/ORG/ORGNAME"/>
      </xsl:when>
      <xsl:when test="normalize-space($card/EMAIL/USERID) != ''">
        <xsl:value-of select="$card/EMAIL/USERID"/>
      </xsl:when>
      <xsl:otherwise>(no name)</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Human words for the type markers of phones, e-mails and addresses. -->
  <xsl:template name="marker-label">
    <xsl:param name="marker" select="local-name()"/>
    <xsl:choose>
      <xsl:when test="$marker = 'PREF'">preferred</xsl:when>
      <xsl:when test="$marker = 'CELL'">mobile</xsl:when>
      <xsl:when test="$marker = 'MSG'">messages</xsl:when>
      <xsl:when test="$marker = 'DOM'">domestic</xsl:when>
      <xsl:when test="$marker = 'INTL'">international</xsl:when>
      <xsl:when test="$marker = 'INTERNET'">internet</xsl:when>
      <xsl:otherwise><xsl:value-of select="translate($marker, $upper, $lower)"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Elements as XML text, for the hidden values that forms post back
       unchanged. The records hold elements and text only. -->
  <xsl:template match="*" mode="serialize">
    <xsl:value-of select="concat('&lt;', name())"/>
    <xsl:choose>
      <xsl:when test="node()">
        <xsl:text>&gt;</xsl:text>
        <xsl:apply-templates select="node()" mode="serialize"/>
        <xsl:value-of select="concat('&lt;/', name(), '&gt;')"/>
      </xsl:when>
      <xsl:otherwise>/&gt;</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="text()" mode="serialize">
    <xsl:variable name="amp">
      <xsl:call-template name="replace-char">
        <xsl:with-param name="text" select="."/>
        <xsl:with-param name="char" select="'&amp;'"/>
        <xsl:with-param name="by" select="'&amp;amp;'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:variable name="lt">
      <xsl:call-template name="replace-char">
        <xsl:with-param name="text" select="$amp"/>
        <xsl:with-param name="char" select="'&lt;'"/>
        <xsl:with-param name="by" select="'&amp;lt;'"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:call-template name="replace-char">
      <xsl:with-param name="text" select="$lt"/>
      <xsl:with-param name="char" select="'&gt;'"/>
      <xsl:with-param name="by" select="'&amp;gt;'"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="comment() | processing-instruction()" mode="serialize"/>

</xsl:stylesheet>
