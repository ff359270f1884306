<?xml version="1.0" encoding="UTF-8"?>
<!-- The frame of every XHTML page: head with the one style sheet, the top bar
     with the areas this account may enter, the footer with the version, and
     the script helpers the forms share. Pages call the template "page" with
     their title and content. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="common.xsl"/>

  <!-- The server adds the XML declaration and the document type itself.
       Script text is written as a CDATA section, which reaches the browser
       unescaped. -->
  <xsl:output method="xml" omit-xml-declaration="yes" indent="no" encoding="UTF-8"
              cdata-section-elements="script"/>

  <!-- Functions every form script uses. The fragment a form posts is pure
       ASCII: markup characters and quotes are escaped, every other non-ASCII
       character becomes a character reference (so the bytes never depend on
       the browser's form encoding), characters XML cannot hold are dropped,
       and the word the server takes for a vCard upload never appears
       literally in a posted body. -->
  <xsl:variable name="script-library"><![CDATA[
function pelorinAscii(text) {
  var out = '';
  for (var i = 0; i < text.length; i++) {
    var c = text.charCodeAt(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.length) {
      var low = text.charCodeAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out += '&#' + ((c - 0xD800) * 0x400 + (low - 0xDC00) + 0x10000) + ';';
        i++;
        continue;
      }
    }
    if (c === 9 || c === 10 || c === 13 || (c >= 32 && c < 127)) out += text.charAt(i);
    else if (c >= 127 && c !== 0xFFFE && c !== 0xFFFF && (c < 0xD800 || c > 0xDFFF)) out += '&#' + c + ';';
  }
  return out.replace(/vcfupload/g, '&#118;cfupload');
}
function pelorinEscape(text) {
  return pelorinAscii(text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;').replace(/'/g, '&apos;'));
}
function pelorinElement(name, value) {
  return '<' + name + '>' + pelorinEscape(value) + '</' + name + '>';
}
function pelorinIsName(name) {
  return /^[A-Za-z_][A-Za-z0-9_.\-]*$/.test(name);
}
function pelorinMarker(name) {
  return pelorinIsName(name) ? '<' + name + '/>' : '';
}
function pelorinValue(id) {
  var field = document.getElementById(id);
  return field ? field.value : '';
}
function pelorinTrimmed(id) {
  return pelorinValue(id).replace(/^\s+|\s+$/g, '');
}
function pelorinPost(form, command, xml) {
  form.elements['XML'].value = xml;
  form.elements['Command'].value = command;
  return true;
}
]]></xsl:variable>

  <xsl:template name="page">
    <xsl:param name="title"/>
    <xsl:param name="area" select="'cards'"/>
    <xsl:param name="content"/>
    <xsl:param name="script"/>
    <html xml:lang="en" lang="en">
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=ISO-8859-1"/>
        <meta name="viewport" content="width=device-width, initial-scale=1"/>
        <title><xsl:value-of select="concat($title, ' - Pelorin')"/></title>
        <link rel="stylesheet" type="text/css" href="../pelorin/pelorin.css"/>
        <xsl:if test="string($script) != ''">
          <script type="text/javascript">
            <xsl:value-of select="concat('//&lt;![CDATA[', $script-library, $script, '&#10;//]]&gt;')"/>
          </script>
        </xsl:if>
      </head>
      <body>
        <!-- The first stop of the Tab key: past the top bar to the page's own
             content. It shows only while it has the focus. -->
        <a class="skip" href="#content">Skip to the content</a>
        <!-- The document type is XHTML 1.0, which has no landmark elements:
             the roles give screen readers the same regions. -->
        <div class="topbar" role="banner">
          <div class="topbar-inner">
            <a class="brand" href="../pelorin/index.htm">Pelorin</a>
            <div class="areas" role="navigation" aria-label="Areas">
              <ul class="nav">
                <li>
                  <a href="../pelorin/index.htm">
                    <xsl:if test="$area = 'cards'"><xsl:attribute name="class">active</xsl:attribute><xsl:attribute name="aria-current">page</xsl:attribute></xsl:if>
                    <xsl:text>Cards</xsl:text>
                  </a>
                </li>
                <xsl:if test="$is-admin">
                  <li>
                    <a href="../user/index.htm">
                      <xsl:if test="$area = 'users'"><xsl:attribute name="class">active</xsl:attribute><xsl:attribute name="aria-current">page</xsl:attribute></xsl:if>
                      <xsl:text>Users</xsl:text>
                    </a>
                  </li>
                  <li>
                    <a href="../config/index.htm">
                      <xsl:if test="$area = 'config'"><xsl:attribute name="class">active</xsl:attribute><xsl:attribute name="aria-current">page</xsl:attribute></xsl:if>
                      <xsl:text>Configuration</xsl:text>
                    </a>
                  </li>
                </xsl:if>
              </ul>
            </div>
            <div class="account">
              <span class="who">
                <xsl:choose>
                  <xsl:when test="normalize-space($NAME) != ''"><xsl:value-of select="$NAME"/></xsl:when>
                  <xsl:otherwise><xsl:value-of select="$USER"/></xsl:otherwise>
                </xsl:choose>
              </span>
              <a class="logout" href="/logout">Log out</a>
            </div>
          </div>
        </div>
        <div class="main" id="content" role="main" tabindex="-1">
          <h1><xsl:value-of select="$title"/></h1>
          <xsl:if test="$DEFAULTPASSWORD = 'true'">
            <p class="notice warning" role="alert">
              <xsl:text>This account still has the password it was installed with. </xsl:text>
              <a href="../user/edit.htm?LOGIN={$USER}">Change the password</a>
              <xsl:text> before anyone else can reach this server.</xsl:text>
            </p>
          </xsl:if>
          <xsl:copy-of select="$content"/>
        </div>
        <div class="footer" role="contentinfo"><xsl:value-of select="$VERSION"/></div>
      </body>
    </html>
  </xsl:template>

  <!-- A paragraph telling that the page's form needs script. -->
  <xsl:template name="needs-script">
    <noscript>
      <p class="notice warning">This form needs JavaScript to be switched on in the browser.</p>
    </noscript>
  </xsl:template>

</xsl:stylesheet>
