<?xml version="1.0" encoding="UTF-8"?>
<!-- The report of the user's last vCard import: how many cards came in (with
     links to them), which were refused and why, what was changed on the way
     in, and the way to undo it. The server renders it over the cards of that
     import that still exist and an IMPORT element; it keeps the report in
     memory until it restarts. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:variable name="import" select="/*/IMPORT"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Import finished</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel import-report">
          <xsl:choose>
            <xsl:when test="not($import)">
              <p class="notice">There is no import to report. A report is kept until the server restarts.</p>
            </xsl:when>
            <xsl:otherwise>
              <xsl:apply-templates select="$import"/>
            </xsl:otherwise>
          </xsl:choose>
          <p>
            <a class="btn btn-primary" href="index.htm">Show my cards</a>
            <a class="btn" href="import.htm">Import another file</a>
          </p>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="IMPORT">
    <xsl:choose>
      <xsl:when test="UNDONE">
        <p class="notice success" role="status">This import was undone: the cards it added were removed.</p>
      </xsl:when>
      <xsl:when test="CARDS = 0">
        <p class="notice warning" role="status">The file held no vCard: no line of it reads BEGIN:VCARD.</p>
      </xsl:when>
      <xsl:when test="REFUSEDCOUNT = 0">
        <p class="notice success" role="status">
          <xsl:call-template name="cards"><xsl:with-param name="count" select="ADDEDCOUNT"/></xsl:call-template>
          <xsl:text> of your file came in.</xsl:text>
        </p>
      </xsl:when>
      <xsl:otherwise>
        <p class="notice warning" role="status">
          <xsl:call-template name="cards"><xsl:with-param name="count" select="ADDEDCOUNT"/></xsl:call-template>
          <xsl:text> of </xsl:text>
          <xsl:value-of select="CARDS"/>
          <xsl:text> came in; </xsl:text>
          <xsl:value-of select="REFUSEDCOUNT"/>
          <xsl:text> could not be taken (listed below).</xsl:text>
        </p>
      </xsl:otherwise>
    </xsl:choose>
    <p>
      <xsl:text>You now have </xsl:text>
      <xsl:call-template name="cards"><xsl:with-param name="count" select="TOTAL"/></xsl:call-template>
      <xsl:text>.</xsl:text>
    </p>

    <xsl:if test="REFUSED">
      <h2>Cards not imported</h2>
      <table class="import-refused">
        <thead><tr><th scope="col">Card</th><th scope="col">Name</th><th scope="col">Reason</th></tr></thead>
        <tbody>
          <xsl:for-each select="REFUSED">
            <tr>
              <td><xsl:value-of select="NUMBER"/></td>
              <td><xsl:call-template name="name-or-none"/></td>
              <td><xsl:value-of select="REASON"/></td>
            </tr>
          </xsl:for-each>
        </tbody>
      </table>
    </xsl:if>

    <xsl:if test="ADDED and not(UNDONE)">
      <h2>Cards imported</h2>
      <table class="import-added">
        <thead><tr><th scope="col">Card</th><th scope="col">Name</th><th scope="col">Changed on the way in</th></tr></thead>
        <tbody>
          <xsl:for-each select="ADDED">
            <xsl:variable name="card" select="/*/vCard[OWNER = $USER][ID = current()/ID][1]"/>
            <tr>
              <td><xsl:value-of select="NUMBER"/></td>
              <td>
                <xsl:choose>
                  <xsl:when test="$card">
                    <xsl:variable name="id">
                      <xsl:call-template name="url-encode"><xsl:with-param name="text" select="ID"/></xsl:call-template>
                    </xsl:variable>
                    <a href="card.htm?ID={$id}">
                      <xsl:call-template name="card-title"><xsl:with-param name="card" select="$card"/></xsl:call-template>
                    </a>
                  </xsl:when>
                  <xsl:otherwise>
                    <xsl:call-template name="name-or-none"/>
                    <xsl:text> (deleted since)</xsl:text>
                  </xsl:otherwise>
                </xsl:choose>
              </td>
              <td>
                <xsl:for-each select="NOTE">
                  <xsl:if test="position() &gt; 1">; </xsl:if>
                  <xsl:value-of select="."/>
                </xsl:for-each>
              </td>
            </tr>
          </xsl:for-each>
        </tbody>
      </table>
      <p><a class="btn btn-danger" href="undoimport.htm">Undo this import&#8230;</a></p>
    </xsl:if>
  </xsl:template>

  <xsl:template name="cards">
    <xsl:param name="count"/>
    <xsl:value-of select="$count"/>
    <xsl:choose>
      <xsl:when test="$count = 1"> card</xsl:when>
      <xsl:otherwise> cards</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="name-or-none">
    <xsl:choose>
      <xsl:when test="normalize-space(NAME) != ''"><xsl:value-of select="NAME"/></xsl:when>
      <xsl:otherwise>(no name)</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

</xsl:stylesheet>
