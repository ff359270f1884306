<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">
    <xsl:for-each select="xBase/vCard">
      <xsl:text>FN:</xsl:text><xsl:value-of select="FN"/><xsl:text>&#13;&#10;</xsl:text>
    </xsl:for-each>
    <b>inside an element</b>
    <xsl:comment>dropped</xsl:comment>
  </xsl:template>
</xsl:stylesheet>
