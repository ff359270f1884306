<?xml version="1.0" encoding="UTF-8"?>
<!-- Asks before the user's last import is undone, naming every card the undo
     will remove: the cards of that import the user still has, edited or not.
     Those deleted since are gone already; no other card is touched. The form
     posts the undo itself, so it works without script. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:variable name="import" select="/*/IMPORT"/>
  <xsl:variable name="cards" select="/*/vCard[OWNER = $USER]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Undo import</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel confirm">
          <xsl:choose>
            <xsl:when test="not($import) or $import/UNDONE or not($cards)">
              <p class="notice">There is nothing to undo: no card of your last import is left.</p>
              <p><a class="btn" href="importedmsg.htm">Back to the report</a></p>
            </xsl:when>
            <xsl:otherwise>
              <p>
                <xsl:text>Undo removes the </xsl:text>
                <xsl:value-of select="count($cards)"/>
                <xsl:choose>
                  <xsl:when test="count($cards) = 1"> card</xsl:when>
                  <xsl:otherwise> cards</xsl:otherwise>
                </xsl:choose>
                <xsl:text> this import added that you still have, changes made since included:</xsl:text>
              </p>
              <ul class="undo-list">
                <xsl:for-each select="$cards">
                  <li><xsl:call-template name="card-title"/></li>
                </xsl:for-each>
              </ul>
              <xsl:variable name="gone" select="count($import/ADDED) - count($cards)"/>
              <xsl:if test="$gone &gt; 0">
                <p>
                  <xsl:value-of select="$gone"/>
                  <xsl:text> of its cards you deleted since; they stay deleted.</xsl:text>
                </p>
              </xsl:if>
              <p>Every other card stays as it is. This cannot be undone.</p>
              <form action="importedmsg.htm" method="post" accept-charset="UTF-8">
                <div>
                  <input type="hidden" name="Command" value="undoimport"/>
                  <button type="submit" class="btn btn-danger">Undo import</button>
                  <a class="btn btn-link" href="importedmsg.htm">Cancel</a>
                </div>
              </form>
            </xsl:otherwise>
          </xsl:choose>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
