<?xml version="1.0" encoding="UTF-8"?>
<!-- The vCard import form. The server takes any post whose body holds the
     word of the hidden field for an upload, reads every card of the file and
     sends the browser on to importedmsg.htm. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Import cards</xsl:with-param>
      <xsl:with-param name="content">
        <div class="panel">
          <p>Choose a vCard file (.vcf) saved by another address book. Every card in it is added to your cards;
            cards you already have are not replaced.</p>
          <form action="import.htm" method="post" enctype="multipart/form-data">
            <div>
              <input type="hidden" name="vcfupload" value="vcfupload"/>
              <div class="field wide">
                <label for="vcffile">vCard file</label>
                <input type="file" id="vcffile" name="vcffile" accept=".vcf,text/vcard,text/x-vcard"/>
              </div>
              <div class="form-actions">
                <button type="submit" class="btn btn-primary">Import</button>
                <a class="btn btn-link" href="index.htm">Cancel</a>
              </div>
            </div>
          </form>
        </div>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
