<?xml version="1.0" encoding="UTF-8"?>
<!-- The accounts, for administrators: add, edit and delete. The last
     administrator is never offered for deletion. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="../pelorin/layout.xsl"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Users</xsl:with-param>
      <xsl:with-param name="area">users</xsl:with-param>
      <xsl:with-param name="content">
        <div class="toolbar">
          <p class="count">
            <xsl:value-of select="count(/*/User)"/>
            <xsl:choose>
              <xsl:when test="count(/*/User) = 1"> account</xsl:when>
              <xsl:otherwise> accounts</xsl:otherwise>
            </xsl:choose>
          </p>
          <div class="actions">
            <a class="btn btn-primary" href="new.htm">New user</a>
          </div>
        </div>
        <div class="table-wrap">
          <table class="users">
            <thead>
              <tr>
                <th>Login</th>
                <th>Display name</th>
                <th>Rights</th>
                <th class="col-actions"><span class="sr-only">Actions</span></th>
              </tr>
            </thead>
            <tbody>
              <xsl:apply-templates select="/*/User">
                <xsl:sort select="translate(USER, $upper, $lower)"/>
              </xsl:apply-templates>
            </tbody>
          </table>
        </div>
        <p class="hint">Every account may keep address cards; administrators also manage users and the configuration.</p>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="User">
    <xsl:variable name="login">
      <xsl:call-template name="url-encode"><xsl:with-param name="text" select="string(USER)"/></xsl:call-template>
    </xsl:variable>
    <tr>
      <td class="name">
        <a href="edit.htm?LOGIN={$login}"><xsl:value-of select="USER"/></a>
        <xsl:if test="translate(USER, $upper, $lower) = $USER"><span class="tag">you</span></xsl:if>
      </td>
      <td><xsl:value-of select="NAME"/></td>
      <td>
        <xsl:choose>
          <xsl:when test="ADMIN"><span class="tag tag-strong">administrator</span></xsl:when>
          <xsl:otherwise>cards</xsl:otherwise>
        </xsl:choose>
      </td>
      <td class="col-actions">
        <a class="btn btn-small" href="edit.htm?LOGIN={$login}">Edit</a>
        <!-- Deleting removes every account of this login; some administrator
             of another login must remain. -->
        <xsl:if test="not(ADMIN) or ../User[ADMIN][USER != current()/USER]">
          <a class="btn btn-small btn-danger-outline" href="delete.htm?LOGIN={$login}">Delete</a>
        </xsl:if>
      </td>
    </tr>
  </xsl:template>

</xsl:stylesheet>
