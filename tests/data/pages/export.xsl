<?xml version="1.0" encoding="UTF-8"?>
<!-- Text output: a UTF-16 declaration in lower case (which the server takes out
     of .vcf pages), then one FN line per card of the user, then the declaration
     once more (which stays). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:param name="USER"/>
  <xsl:template match="/">
    <xsl:text>&lt;?xml version="1.0" encoding="utf-16"?&gt;</xsl:text>
    <xsl:for-each select="/*/vCard[OWNER = $USER]">
      <xsl:text>FN:</xsl:text><xsl:value-of select="FN"/><xsl:text>&#13;&#10;</xsl:text>
    </xsl:for-each>
    <xsl:text>&lt;?XML VERSION="1.0" ENCODING="UTF-16"?&gt;</xsl:text>
  </xsl:template>
</xsl:stylesheet>
