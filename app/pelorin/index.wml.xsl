<?xml version="1.0" encoding="UTF-8"?>
<!-- A WML deck for WAP phones: the user's own cards with their phone
     numbers, sorted by family name. The server adds the WML prolog. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">

  <xsl:include href="common.xsl"/>

  <xsl:output method="xml" omit-xml-declaration="yes" indent="no" encoding="UTF-8"/>

  <xsl:template match="/">
    <xsl:variable name="mine" select="/*/vCard[OWNER = $USER]"/>
    <wml>
      <card id="cards" title="Pelorin">
        <p>
          <b><xsl:call-template name="wml-text"><xsl:with-param name="text" select="$NAME"/></xsl:call-template></b>
        </p>
        <xsl:if test="not($mine)">
          <p>No cards.</p>
        </xsl:if>
        <xsl:for-each select="$mine">
          <xsl:sort select="translate(concat(N/FAMILY, substring(FN, 1, 1000 * not(N/FAMILY))), $upper, $lower)"/>
          <xsl:sort select="translate(N/GIVEN, $upper, $lower)"/>
          <p>
            <b>
              <xsl:call-template name="wml-text">
                <xsl:with-param name="text"><xsl:call-template name="card-title"/></xsl:with-param>
              </xsl:call-template>
            </b>
            <xsl:for-each select="TEL[normalize-space(NUMBER) != '']">
              <br/>
              <xsl:variable name="dial" select="translate(NUMBER, translate(NUMBER, '+0123456789*#', ''), '')"/>
              <xsl:variable name="kinds">
                <xsl:for-each select="*[not(self::NUMBER)][not(self::VOICE)]">
                  <xsl:if test="position() &gt; 1"><xsl:text> </xsl:text></xsl:if>
                  <xsl:call-template name="marker-label"/>
                </xsl:for-each>
              </xsl:variable>
              <xsl:if test="string($kinds) != ''">
                <xsl:call-template name="wml-text"><xsl:with-param name="text" select="concat($kinds, ': ')"/></xsl:call-template>
              </xsl:if>
              <xsl:choose>
                <xsl:when test="$dial != ''">
                  <a href="wtai://wp/mc;{$dial}">
                    <xsl:call-template name="wml-text"><xsl:with-param name="text" select="NUMBER"/></xsl:call-template>
                  </a>
                </xsl:when>
                <xsl:otherwise>
                  <xsl:call-template name="wml-text"><xsl:with-param name="text" select="NUMBER"/></xsl:call-template>
                </xsl:otherwise>
              </xsl:choose>
            </xsl:for-each>
          </p>
        </xsl:for-each>
      </card>
    </wml>
  </xsl:template>

  <!-- A "$" starts a variable in WML; "$$" stands for the character itself. -->
  <xsl:template name="wml-text">
    <xsl:param name="text"/>
    <xsl:call-template name="replace-char">
      <xsl:with-param name="text" select="$text"/>
      <xsl:with-param name="char" select="'$'"/>
      <xsl:with-param name="by" select="'$$'"/>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
