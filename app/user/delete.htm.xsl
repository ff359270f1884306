<?xml version="1.0" encoding="UTF-8"?>
<!-- Asks before an account (parameter LOGIN) is deleted; the last
     administrator cannot be. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="../pelorin/layout.xsl"/>

  <xsl:param name="LOGIN"/>

  <xsl:variable name="account" select="/*/User[USER = $LOGIN][1]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Delete user</xsl:with-param>
      <xsl:with-param name="area">users</xsl:with-param>
      <xsl:with-param name="content">
        <xsl:choose>
          <xsl:when test="not($account)">
            <p class="notice">There is no account with this login.</p>
            <p><a class="btn" href="index.htm">Back to the users</a></p>
          </xsl:when>
          <xsl:when test="/*/User[USER = $LOGIN][ADMIN] and not(/*/User[ADMIN][USER != $LOGIN])">
            <p class="notice warning">This is the last administrator. Make another account an administrator
              before deleting this one.</p>
            <p><a class="btn" href="index.htm">Back to the users</a></p>
          </xsl:when>
          <xsl:otherwise>
            <div class="panel confirm">
              <p>Delete the account <strong><xsl:value-of select="$account/USER"/></strong>
                <xsl:if test="normalize-space($account/NAME) != ''">
                  <xsl:value-of select="concat(' (', $account/NAME, ')')"/>
                </xsl:if>?
                The address cards of this user stay in the store.</p>
              <xsl:if test="translate($LOGIN, $upper, $lower) = $USER">
                <p class="notice warning">This is your own account: you will not be able to sign in again.</p>
              </xsl:if>
              <form action="index.htm" method="post" accept-charset="UTF-8">
                <div>
                  <input type="hidden" name="xPath">
                    <xsl:attribute name="value">
                      <xsl:call-template name="record-xpath">
                        <xsl:with-param name="record">User</xsl:with-param>
                        <xsl:with-param name="key">USER</xsl:with-param>
                        <xsl:with-param name="value" select="$LOGIN"/>
                      </xsl:call-template>
                    </xsl:attribute>
                  </input>
                  <input type="hidden" name="Command" value="delete"/>
                  <input type="hidden" name="Redirect" value="index.htm"/>
                  <button type="submit" class="btn btn-danger">Delete</button>
                  <a class="btn btn-link" href="index.htm">Cancel</a>
                </div>
              </form>
            </div>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

</xsl:stylesheet>
