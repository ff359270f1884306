<?xml version="1.0" encoding="UTF-8"?>
<!-- Asks before one of the user's own cards (parameter ID) is deleted. The
     form posts the delete itself, so it works without script; the server
     narrows the delete to the user's own cards. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:param name="ID"/>

  <xsl:variable name="card" select="/*/vCard[OWNER = $USER][ID = $ID][1]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Delete card</xsl:with-param>
      <xsl:with-param name="content">
        <xsl:choose>
          <xsl:when test="not($card)">
            <p class="notice">There is no card of yours with this identifier. It may have been deleted already.</p>
            <p><a class="btn" href="index.htm">Back to the cards</a></p>
          </xsl:when>
          <xsl:otherwise>
            <xsl:variable name="id">
              <xsl:call-template name="url-encode"><xsl:with-param name="text" select="$ID"/></xsl:call-template>
            </xsl:variable>
            <div class="panel confirm">
              <p>Delete the card of <strong><xsl:call-template name="card-title"><xsl:with-param name="card" select="$card"/></xsl:call-template></strong>?
                This cannot be undone.</p>
              <form action="index.htm" method="post" accept-charset="UTF-8">
                <div>
                  <input type="hidden" name="xPath">
                    <xsl:attribute name="value">
                      <xsl:call-template name="record-xpath">
                        <xsl:with-param name="record">vCard</xsl:with-param>
                        <xsl:with-param name="key">ID</xsl:with-param>
                        <xsl:with-param name="value" select="$ID"/>
                      </xsl:call-template>
                    </xsl:attribute>
                  </input>
                  <input type="hidden" name="Command" value="delete"/>
                  <input type="hidden" name="Redirect" value="index.htm"/>
                  <button type="submit" class="btn btn-danger">Delete</button>
                  <a class="btn btn-link" href="card.htm?ID={$id}">Cancel</a>
                </div>
              </form>
            </div>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
