<?xml version="1.0" encoding="UTF-8"?>
<!-- Shown after a vCard import. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:template match="/">
    <xsl:variable name="count" select="count(/*/vCard[OWNER = $USER])"/>
    <xsl:call-template name="page">
      <xsl:with-param name="title">Import finished</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel">
          <p class="notice success">The cards of your file have been imported.</p>
          <p>
            <xsl:text>You now have </xsl:text>
            <xsl:value-of select="$count"/>
            <xsl:choose>
              <xsl:when test="$count = 1"> card.</xsl:when>
              <xsl:otherwise> cards.</xsl:otherwise>
            </xsl:choose>
          </p>
          <p>
            <a class="btn btn-primary" href="index.htm">Show my cards</a>
            <a class="btn" href="import.htm">Import another file</a>
          </p>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
