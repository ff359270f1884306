<?xml version="1.0" encoding="UTF-8"?>
<!-- Edits an account (parameter LOGIN): display name, password, administrator flag. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="../pelorin/layout.xsl"/>
  <xsl:include href="userform.xsl"/>

  <xsl:param name="LOGIN"/>

  <xsl:variable name="account" select="/*/User[USER = $LOGIN][1]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Edit user</xsl:with-param>
      <xsl:with-param name="area">users</xsl:with-param>
      <xsl:with-param name="script" select="$user-script"/>
      <xsl:with-param name="content">
        <xsl:choose>
          <xsl:when test="not($account)">
            <p class="notice">There is no account with this login.</p>
            <p><a class="btn" href="index.htm">Back to the users</a></p>
          </xsl:when>
          <xsl:otherwise>
            <xsl:call-template name="user-form">
              <xsl:with-param name="account" select="$account"/>
              <xsl:with-param name="command">edit</xsl:with-param>
              <xsl:with-param name="xpath">
                <xsl:call-template name="record-xpath">
                  <xsl:with-param name="record">User</xsl:with-param>
                  <xsl:with-param name="key">USER</xsl:with-param>
                  <xsl:with-param name="value" select="$LOGIN"/>
                </xsl:call-template>
              </xsl:with-param>
            </xsl:call-template>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
