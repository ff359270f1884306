<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.1" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:param name="TARGET"/>
  <xsl:template match="/">
    <html><xsl:document href="{$TARGET}" method="text">stolen</xsl:document></html>
  </xsl:template>
</xsl:stylesheet>
