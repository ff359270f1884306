<?xml version="1.0" encoding="UTF-8"?>
<!-- Adds an account. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="../pelorin/layout.xsl"/>
  <xsl:include href="userform.xsl"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">New user</xsl:with-param>
      <xsl:with-param name="area">users</xsl:with-param>
      <xsl:with-param name="script" select="$user-script"/>
      <xsl:with-param name="content">
        <xsl:call-template name="user-form">
          <xsl:with-param name="command">insert</xsl:with-param>
        </xsl:call-template>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
