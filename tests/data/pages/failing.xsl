<?xml version="1.0" encoding="UTF-8"?>
<!-- Well-formed, but stops while it is applied. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/">
    <html><xsl:message terminate="yes">card list unavailable</xsl:message></html>
  </xsl:template>
</xsl:stylesheet>
