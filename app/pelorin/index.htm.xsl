<?xml version="1.0" encoding="UTF-8"?>
<!-- The signed-in user's own cards as a table sorted by family name, with a
     search box (parameter q) matched without regard to case against the
     names, the organisation, the e-mail addresses and the phone numbers. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:param name="q"/>

  <xsl:variable name="needle" select="translate(normalize-space($q), $upper, $lower)"/>
  <!-- Phone numbers also match when written with other separators. -->
  <xsl:variable name="number-separators" select="' -/().'"/>
  <xsl:variable name="needle-digits" select="translate($needle, $number-separators, '')"/>
  <xsl:variable name="mine" select="/*/vCard[OWNER = $USER]"/>
  <xsl:variable name="shown" select="$mine[$needle = ''
      or (FN | N/* | NICKNAME | ORG/* | EMAIL/USERID | TEL/NUMBER)[contains(translate(., $upper, $lower), $needle)]
      or ($needle-digits != '' and TEL/NUMBER[contains(translate(., $number-separators, ''), $needle-digits)])]"/>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Address cards</xsl:with-param>
      <xsl:with-param name="content">
        <div class="toolbar">
          <form class="search" action="index.htm" method="get" accept-charset="UTF-8">
            <input type="search" name="q" value="{$q}" placeholder="Search names, organisation, e-mail, phone"
                   aria-label="Search"/>
            <button type="submit" class="btn">Search</button>
            <xsl:if test="$needle != ''">
              <a class="btn btn-link" href="index.htm">Show all</a>
            </xsl:if>
          </form>
          <div class="actions">
            <a class="btn btn-primary" href="new.htm">New card</a>
            <a class="btn" href="import.htm">Import</a>
            <a class="btn" href="export.vcf" title="vCard 2.1, for older programs">Export</a>
            <a class="btn" href="export3.vcf" title="Every card as vCard 3.0">vCard 3.0</a>
            <a class="btn" href="export4.vcf" title="Every card as vCard 4.0">vCard 4.0</a>
          </div>
        </div>
        <xsl:choose>
          <xsl:when test="not($mine)">
            <p class="empty">You have no address cards yet. Add one with <a href="new.htm">New card</a>
              or bring your cards from another program with <a href="import.htm">Import</a>.</p>
          </xsl:when>
          <xsl:when test="not($shown)">
            <p class="empty">No card matches <q><xsl:value-of select="$q"/></q>.</p>
          </xsl:when>
          <xsl:otherwise>
            <p class="count">
              <xsl:value-of select="count($shown)"/>
              <xsl:choose>
                <xsl:when test="count($shown) = 1"> card</xsl:when>
                <xsl:otherwise> cards</xsl:otherwise>
              </xsl:choose>
              <xsl:if test="$needle != ''"> of <xsl:value-of select="count($mine)"/></xsl:if>
            </p>
            <div class="table-wrap">
              <table class="cards">
                <thead>
                  <tr>
                    <th>Name</th>
                    <th class="hide-sm">Organisation</th>
                    <th>Phone</th>
                    <th class="hide-sm">E-mail</th>
                    <th class="col-actions"><span class="sr-only">Actions</span></th>
                  </tr>
                </thead>
                <tbody>
                  <xsl:apply-templates select="$shown">
                    <xsl:sort select="translate(concat(N/FAMILY, substring(FN, 1, 1000 * not(N/FAMILY))), $upper, $lower)"/>
                    <xsl:sort select="translate(N/GIVEN, $upper, $lower)"/>
                    <xsl:sort select="translate(FN, $upper, $lower)"/>
                  </xsl:apply-templates>
                </tbody>
              </table>
            </div>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="vCard">
    <xsl:variable name="id">
      <xsl:call-template name="url-encode">
        <xsl:with-param name="text" select="string(ID)"/>
      </xsl:call-template>
    </xsl:variable>
    <tr>
      <td class="name">
        <a href="card.htm?ID={$id}"><xsl:call-template name="card-title"/></a>
        <xsl:if test="TITLE">
          <span class="sub"><xsl:value-of select="TITLE"/></span>
        </xsl:if>
      </td>
      <td class="hide-sm"><xsl:value-of select="ORG/ORGNAME"/></td>
      <td class="nowrap">
        <xsl:variable name="phone" select="(TEL[PREF] | TEL[not(../TEL/PREF)])[1]"/>
        <xsl:if test="$phone">
          <a href="tel:{translate(normalize-space($phone/NUMBER), ' ', '')}"><xsl:value-of select="$phone/NUMBER"/></a>
        </xsl:if>
      </td>
      <td class="hide-sm">
        <xsl:variable name="mail" select="(EMAIL[PREF] | EMAIL[not(../EMAIL/PREF)])[1]"/>
        <xsl:if test="$mail">
          <a href="mailto:{normalize-space($mail/USERID)}"><xsl:value-of select="$mail/USERID"/></a>
        </xsl:if>
      </td>
      <td class="col-actions">
        <!-- On a phone the name, which links to the card too, is enough. -->
        <a class="btn btn-small hide-sm" href="card.htm?ID={$id}">View</a>
        <a class="btn btn-small" href="edit.htm?ID={$id}">Edit</a>
        <a class="btn btn-small btn-danger-outline" href="delete.htm?ID={$id}">Delete</a>
      </td>
    </tr>
  </xsl:template>

</xsl:stylesheet>
