<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/">
    <html><body><xsl:comment> cards </xsl:comment><p><xsl:value-of select="count(xBase/vCard)"/></p><div/><br/></body></html>
  </xsl:template>
</xsl:stylesheet>
