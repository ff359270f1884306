<?xml version="1.0" encoding="UTF-8"?>
<!-- Shows what a page receives: the four server parameters, one request field,
     the store it was applied to and its cards' names (markup output). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:param name="USER"/>
  <xsl:param name="NAME"/>
  <xsl:param name="ADMIN"/>
  <xsl:param name="VERSION"/>
  <xsl:param name="q"/>
  <xsl:template match="/">
    <html><body><p>USER=[<xsl:value-of select="$USER"/>] NAME=[<xsl:value-of select="$NAME"/>] ADMIN=[<xsl:value-of select="$ADMIN"/>] VERSION=[<xsl:value-of select="$VERSION"/>] q=[<xsl:value-of select="$q"/>] store=[<xsl:value-of select="name(/*)"/>]</p><xsl:for-each select="/*/vCard"><i><xsl:value-of select="FN"/></i></xsl:for-each></body></html>
  </xsl:template>
</xsl:stylesheet>
