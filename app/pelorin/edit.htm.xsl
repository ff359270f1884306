<?xml version="1.0" encoding="UTF-8"?>
<!-- The form for one of the user's own cards (parameter ID). The post
     replaces the card by the edited one, which keeps its identifier. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>
  <xsl:include href="cardform.xsl"/>

  <xsl:param name="ID"/>

  <xsl:variable name="card" select="/*/vCard[OWNER = $USER][ID = $ID][1]"/>

  <xsl:template match="/">
    <xsl:variable name="id">
      <xsl:call-template name="url-encode"><xsl:with-param name="text" select="$ID"/></xsl:call-template>
    </xsl:variable>
    <xsl:call-template name="page">
      <xsl:with-param name="title">Edit card</xsl:with-param>
      <xsl:with-param name="script" select="$card-script"/>
      <xsl:with-param name="content">
        <xsl:choose>
          <xsl:when test="not($card)">
            <p class="notice">There is no card of yours with this identifier. It may have been deleted.</p>
            <p><a class="btn" href="index.htm">Back to the cards</a></p>
          </xsl:when>
          <xsl:otherwise>
            <xsl:call-template name="card-form">
              <xsl:with-param name="card" select="$card"/>
              <xsl:with-param name="command">edit</xsl:with-param>
              <!-- The owner condition keeps the edit to the user's own card. -->
              <xsl:with-param name="xpath">
                <xsl:call-template name="record-xpath">
                  <xsl:with-param name="record">vCard</xsl:with-param>
                  <xsl:with-param name="key">ID</xsl:with-param>
                  <xsl:with-param name="value" select="$ID"/>
                </xsl:call-template>
                <xsl:text>[OWNER=</xsl:text>
                <xsl:call-template name="xpath-literal"><xsl:with-param name="value" select="$USER"/></xsl:call-template>
                <xsl:text>]</xsl:text>
              </xsl:with-param>
              <xsl:with-param name="redirect" select="concat('card.htm?ID=', $id)"/>
              <xsl:with-param name="cancel" select="concat('card.htm?ID=', $id)"/>
            </xsl:call-template>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
