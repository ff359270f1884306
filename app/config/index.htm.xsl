<?xml version="1.0" encoding="UTF-8"?>
<!-- The configuration, for administrators: the port the service listens on.
     The service reads it when it starts, so a change takes effect at the
     next start. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="../pelorin/layout.xsl"/>

  <!-- The service reads the first port element and its own text only (an
       edit through the pages adds an OWNER child to it). -->
  <xsl:variable name="port-element" select="/*/ServiceProviderPort[1]"/>
  <xsl:variable name="port" select="normalize-space($port-element/text()[1])"/>

  <xsl:variable name="config-script"><![CDATA[
function pelorinSavePort(form, command) {
  var port = pelorinTrimmed('port');
  if (!/^[0-9]+$/.test(port) || +port < 1 || +port > 65535) {
    alert('The port is a number from 1 to 65535.');
    return false;
  }
  return pelorinPost(form, command, pelorinElement('ServiceProviderPort', String(+port)));
}
]]></xsl:variable>

  <xsl:template match="/">
    <xsl:variable name="command">
      <xsl:choose>
        <xsl:when test="$port-element">edit</xsl:when>
        <xsl:otherwise>insert</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:call-template name="page">
      <xsl:with-param name="title">Configuration</xsl:with-param>
      <xsl:with-param name="area">config</xsl:with-param>
      <xsl:with-param name="script" select="$config-script"/>
      <xsl:with-param name="content">
        <div class="panel">
          <h2>Web server</h2>
          <table class="details">
            <tbody>
              <tr>
                <th scope="row">Configured port</th>
                <td>
                  <xsl:choose>
                    <xsl:when test="not($port-element)">9555 (the default)</xsl:when>
                    <xsl:otherwise><xsl:value-of select="$port"/></xsl:otherwise>
                  </xsl:choose>
                </td>
              </tr>
            </tbody>
          </table>
          <xsl:call-template name="needs-script"/>
          <form id="config-form" class="card-form" action="index.htm" method="post" accept-charset="UTF-8"
                onsubmit="return pelorinSavePort(this, '{$command}');">
            <div>
              <xsl:if test="$port-element">
                <input type="hidden" name="xPath" value="{name(/*)}/ServiceProviderPort"/>
              </xsl:if>
              <input type="hidden" name="Command" value=""/>
              <input type="hidden" name="XML" value=""/>
              <input type="hidden" name="Redirect" value="index.htm"/>
              <div class="field">
                <label for="port">Port</label>
                <input type="number" id="port" min="1" max="65535" value="{$port}">
                  <xsl:if test="not($port-element)"><xsl:attribute name="value">9555</xsl:attribute></xsl:if>
                </input>
                <span class="hint">A new port takes effect at the next start of the service.</span>
              </div>
              <div class="form-actions">
                <button type="submit" class="btn btn-primary">Save</button>
              </div>
            </div>
          </form>
        </div>
        <div class="panel">
          <h2>Backup</h2>
          <p>A copy of the cards, the accounts and this configuration, taken at one moment while the service
            goes on serving. It is written to a new folder under backup/ in the application directory, named
            after the date and time; copy that folder to another disk.</p>
          <form class="card-form" action="backup" method="post">
            <div class="form-actions">
              <button type="submit" class="btn btn-primary">Write a backup now</button>
            </div>
          </form>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
