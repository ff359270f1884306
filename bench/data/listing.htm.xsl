<?xml version="1.0" encoding="UTF-8"?>
<!-- A card listing of the kind the index page renders: the cards of one
     user, sorted by family and given name, one table row each. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" omit-xml-declaration="yes"/>
  <xsl:param name="USER"/>
  <xsl:param name="NAME"/>
  <xsl:param name="ADMIN"/>
  <xsl:param name="VERSION"/>
  <xsl:template match="/">
    <xsl:variable name="cards" select="/*/vCard[OWNER=$USER]"/>
    <html>
      <head><title>Cards of <xsl:value-of select="$NAME"/></title></head>
      <body>
        <h1>Cards of <xsl:value-of select="$NAME"/></h1>
        <p><xsl:value-of select="count($cards)"/> cards</p>
        <table>
          <tr><th>Name</th><th>Organisation</th><th>Phone</th><th>E-mail</th><th/></tr>
          <xsl:for-each select="$cards">
            <xsl:sort select="N/FAMILY"/>
            <xsl:sort select="N/GIVEN"/>
            <tr class="row{position() mod 2}">
              <td><a href="card.htm?ID={ID}"><xsl:value-of select="FN"/></a></td>
              <td><xsl:value-of select="ORG/ORGNAME"/></td>
              <td><xsl:value-of select="TEL[1]/NUMBER"/></td>
              <td><a href="mailto:{EMAIL[1]/USERID}"><xsl:value-of select="EMAIL[1]/USERID"/></a></td>
              <td><input type="checkbox" name="xPath" value="/*/vCard[ID='{ID}']"/></td>
            </tr>
          </xsl:for-each>
        </table>
        <xsl:if test="$ADMIN = 'true'"><p><a href="/user/index.htm">Users</a></p></xsl:if>
        <xsl:comment> rendered for <xsl:value-of select="$USER"/> </xsl:comment>
        <p class="version"><xsl:value-of select="$VERSION"/></p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
