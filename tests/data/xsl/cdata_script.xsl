<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" cdata-section-elements="script"/>
  <xsl:template match="/">
    <html><script>if (a &lt; b &amp;&amp; c) go();</script><p><xsl:value-of select="xBase/vCard/FN"/></p></html>
  </xsl:template>
</xsl:stylesheet>
