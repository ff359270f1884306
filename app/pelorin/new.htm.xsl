<?xml version="1.0" encoding="UTF-8"?>
<!-- The form for a new card; the post inserts it with the user as owner. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>
  <xsl:include href="cardform.xsl"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">New card</xsl:with-param>
      <xsl:with-param name="script" select="$card-script"/>
      <xsl:with-param name="content">
        <xsl:call-template name="card-form">
          <xsl:with-param name="command">insert</xsl:with-param>
          <xsl:with-param name="redirect">index.htm</xsl:with-param>
          <xsl:with-param name="cancel">index.htm</xsl:with-param>
        </xsl:call-template>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
