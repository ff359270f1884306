<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:param name="USER" select="'default'"/>
  <xsl:param name="user" select="'default'"/>
  <xsl:param name="NAME" select="'default'"/>
  <xsl:param name="ADMIN" select="'default'"/>
  <xsl:template match="/">
    <xsl:value-of select="concat('USER=', $USER, '|user=', $user, '|NAME=', $NAME, '|ADMIN=', $ADMIN)"/>
  </xsl:template>
</xsl:stylesheet>
