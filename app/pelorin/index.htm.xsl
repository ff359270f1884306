<?xml version="1.0" encoding="UTF-8"?>
<!-- The signed-in user's own cards, a page at a time. The server searches,
     sorts and cuts the list into pages from the user's cards alone, and gives
     this stylesheet the page's cards, in order, with a LISTING element that
     says where the page stands (totals, range, page, sort, the first page of
     each letter). The search box (q) is matched without regard to case or
     accents against the names, the organisation, the e-mail addresses and the
     phone numbers. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:include href="layout.xsl"/>

  <xsl:param name="q"/>

  <xsl:variable name="listing" select="/*/LISTING"/>
  <xsl:variable name="searching" select="normalize-space($q) != ''"/>
  <xsl:variable name="sort" select="string($listing/SORT)"/>
  <xsl:variable name="size" select="number($listing/SIZE)"/>
  <xsl:variable name="page-number" select="number($listing/PAGE)"/>
  <xsl:variable name="pages" select="number($listing/PAGES)"/>
  <xsl:variable name="encoded-q">
    <xsl:call-template name="url-encode">
      <xsl:with-param name="text" select="$q"/>
    </xsl:call-template>
  </xsl:variable>

  <!-- A link to another page of the same list: the search, sort and page
       size stay as they are unless given. -->
  <xsl:template name="list-href">
    <xsl:param name="page" select="1"/>
    <xsl:param name="sort-by" select="$sort"/>
    <xsl:value-of select="concat('index.htm?sort=', $sort-by, '&amp;size=', $size, '&amp;page=', $page)"/>
    <xsl:if test="$searching">
      <xsl:value-of select="concat('&amp;q=', $encoded-q)"/>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/">
    <xsl:call-template name="page">
      <xsl:with-param name="title">Address cards</xsl:with-param>
      <xsl:with-param name="content">
        <div class="toolbar">
          <form class="search" action="index.htm" method="get" accept-charset="UTF-8" role="search">
            <label for="search-q" class="sr-only">Search cards</label>
            <input type="search" id="search-q" name="q" value="{$q}"
                   placeholder="Search names, organisation, e-mail, phone"/>
            <input type="hidden" name="sort" value="{$sort}"/>
            <input type="hidden" name="size" value="{$size}"/>
            <button type="submit" class="btn">Search</button>
            <xsl:if test="$searching">
              <a class="btn btn-link" href="index.htm?sort={$sort}&amp;size={$size}">Show all</a>
            </xsl:if>
          </form>
          <div class="actions">
            <a class="btn btn-primary" href="new.htm">New card</a>
            <a class="btn" href="import.htm">Import</a>
            <a class="btn" href="duplicates.htm">Duplicates</a>
            <a class="btn" href="export.vcf" title="vCard 2.1, for older programs">Export</a>
            <a class="btn" href="export3.vcf" title="Every card as vCard 3.0">vCard 3.0</a>
            <a class="btn" href="export4.vcf" title="Every card as vCard 4.0">vCard 4.0</a>
          </div>
        </div>
        <xsl:choose>
          <xsl:when test="number($listing/TOTAL) = 0">
            <p class="empty">You have no address cards yet. Add one with <a href="new.htm">New card</a>
              or bring your cards from another program with <a href="import.htm">Import</a>.</p>
          </xsl:when>
          <xsl:when test="number($listing/MATCHING) = 0">
            <p class="empty">No card matches <q><xsl:value-of select="$q"/></q>.</p>
          </xsl:when>
          <xsl:otherwise>
            <div class="list-head">
              <p class="count" role="status">
                <xsl:choose>
                  <xsl:when test="number($listing/MATCHING) = 1">1 card</xsl:when>
                  <xsl:when test="$pages = 1">
                    <xsl:value-of select="format-number($listing/MATCHING, '#,##0')"/> cards</xsl:when>
                  <xsl:otherwise>
                    <xsl:value-of select="concat('Cards ', format-number($listing/FIRST, '#,##0'), '&#8211;',
                                                 format-number($listing/LAST, '#,##0'), ' of ',
                                                 format-number($listing/MATCHING, '#,##0'))"/>
                  </xsl:otherwise>
                </xsl:choose>
                <xsl:if test="$searching">
                  <xsl:value-of select="concat(' found among ', format-number($listing/TOTAL, '#,##0'))"/>
                </xsl:if>
              </p>
              <nav class="sorts" aria-label="Sort the cards">
                <span class="sorts-label">Sort by</span>
                <xsl:call-template name="sort-link">
                  <xsl:with-param name="by" select="'family'"/>
                  <xsl:with-param name="label">Family name</xsl:with-param>
                </xsl:call-template>
                <xsl:call-template name="sort-link">
                  <xsl:with-param name="by" select="'given'"/>
                  <xsl:with-param name="label">Given name</xsl:with-param>
                </xsl:call-template>
                <xsl:call-template name="sort-link">
                  <xsl:with-param name="by" select="'org'"/>
                  <xsl:with-param name="label">Organisation</xsl:with-param>
                </xsl:call-template>
              </nav>
            </div>
            <xsl:if test="$pages &gt; 1">
              <nav class="letters" aria-label="Jump to a letter">
                <xsl:for-each select="$listing/LETTER">
                  <xsl:variable name="href">
                    <xsl:call-template name="list-href">
                      <xsl:with-param name="page" select="AT"/>
                    </xsl:call-template>
                  </xsl:variable>
                  <a href="{$href}">
                    <xsl:if test="number(AT) = $page-number">
                      <xsl:attribute name="class">here</xsl:attribute>
                    </xsl:if>
                    <xsl:value-of select="CHAR"/>
                  </a>
                </xsl:for-each>
              </nav>
            </xsl:if>
            <div class="table-wrap">
              <table class="cards">
                <caption class="sr-only">Address cards</caption>
                <thead>
                  <tr>
                    <th scope="col" class="col-name">Name</th>
                    <th scope="col" class="col-org hide-sm">Organisation</th>
                    <th scope="col" class="col-phone">Phone</th>
                    <th scope="col" class="col-mail hide-sm">E-mail</th>
                    <th scope="col" class="col-actions hide-sm"><span class="sr-only">Actions</span></th>
                  </tr>
                </thead>
                <tbody>
                  <xsl:apply-templates select="/*/vCard"/>
                </tbody>
              </table>
            </div>
            <xsl:call-template name="pager"/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template name="sort-link">
    <xsl:param name="by"/>
    <xsl:param name="label"/>
    <xsl:choose>
      <xsl:when test="$sort = $by">
        <strong aria-current="true"><xsl:value-of select="$label"/></strong>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="href">
          <xsl:call-template name="list-href">
            <xsl:with-param name="sort-by" select="$by"/>
          </xsl:call-template>
        </xsl:variable>
        <a href="{$href}"><xsl:value-of select="$label"/></a>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- Previous and next, where the page stands, and the page size. -->
  <xsl:template name="pager">
    <div class="pager">
      <xsl:if test="$pages &gt; 1">
        <nav class="pages" aria-label="Pages">
          <xsl:choose>
            <xsl:when test="$page-number &gt; 1">
              <xsl:variable name="href">
                <xsl:call-template name="list-href">
                  <xsl:with-param name="page" select="$page-number - 1"/>
                </xsl:call-template>
              </xsl:variable>
              <a class="btn" rel="prev" href="{$href}">&#8249; Previous</a>
            </xsl:when>
            <xsl:otherwise><span class="btn disabled" aria-disabled="true">&#8249; Previous</span></xsl:otherwise>
          </xsl:choose>
          <span class="page-of">Page <xsl:value-of select="format-number($page-number, '#,##0')"/> of <xsl:value-of
              select="format-number($pages, '#,##0')"/></span>
          <xsl:choose>
            <xsl:when test="$page-number &lt; $pages">
              <xsl:variable name="href">
                <xsl:call-template name="list-href">
                  <xsl:with-param name="page" select="$page-number + 1"/>
                </xsl:call-template>
              </xsl:variable>
              <a class="btn" rel="next" href="{$href}">Next &#8250;</a>
            </xsl:when>
            <xsl:otherwise><span class="btn disabled" aria-disabled="true">Next &#8250;</span></xsl:otherwise>
          </xsl:choose>
        </nav>
      </xsl:if>
      <form class="page-size" action="index.htm" method="get" accept-charset="UTF-8">
        <input type="hidden" name="q" value="{$q}"/>
        <input type="hidden" name="sort" value="{$sort}"/>
        <label for="page-size">Cards per page</label>
        <select id="page-size" name="size">
          <xsl:call-template name="size-option"><xsl:with-param name="n" select="25"/></xsl:call-template>
          <xsl:call-template name="size-option"><xsl:with-param name="n" select="50"/></xsl:call-template>
          <xsl:call-template name="size-option"><xsl:with-param name="n" select="100"/></xsl:call-template>
          <xsl:call-template name="size-option"><xsl:with-param name="n" select="200"/></xsl:call-template>
          <xsl:call-template name="size-option"><xsl:with-param name="n" select="500"/></xsl:call-template>
        </select>
        <button type="submit" class="btn btn-small">Show</button>
      </form>
    </div>
  </xsl:template>

  <xsl:template name="size-option">
    <xsl:param name="n"/>
    <option value="{$n}">
      <xsl:if test="$n = $size"><xsl:attribute name="selected">selected</xsl:attribute></xsl:if>
      <xsl:value-of select="$n"/>
    </option>
  </xsl:template>

  <xsl:template match="vCard">
    <xsl:variable name="id">
      <xsl:call-template name="url-encode">
        <xsl:with-param name="text" select="string(ID)"/>
      </xsl:call-template>
    </xsl:variable>
    <tr>
      <td class="name">
        <!-- The card's own photo, shrunk by the style sheet and fetched only
             when the row comes into view; otherwise the initials. Both only
             decorate the name beside them, so they say nothing to a screen
             reader. -->
        <xsl:choose>
          <xsl:when test="PHOTO[1]/BINVAL">
            <img class="avatar" src="photo?ID={$id}" alt="" loading="lazy" width="32" height="32"/>
          </xsl:when>
          <xsl:otherwise>
            <span class="avatar initials" aria-hidden="true">
              <xsl:attribute name="data-initials">
                <xsl:choose>
                  <xsl:when test="normalize-space(N/GIVEN) != '' and normalize-space(N/FAMILY) != ''">
                    <xsl:value-of select="concat(substring(normalize-space(N/GIVEN), 1, 1),
                                                 substring(normalize-space(N/FAMILY), 1, 1))"/>
                  </xsl:when>
                  <xsl:otherwise>
                    <xsl:value-of select="substring(normalize-space(concat(N/FAMILY, N/GIVEN, ' ', FN, ' ',
                                                                           ORG/ORGNAME, ' ', EMAIL/USERID)), 1, 1)"/>
                  </xsl:otherwise>
                </xsl:choose>
              </xsl:attribute>
            </span>
          </xsl:otherwise>
        </xsl:choose>
        <a href="card.htm?ID={$id}"><xsl:call-template name="card-title"/></a>
        <xsl:if test="TITLE | ORG/ORGNAME">
          <!-- On a phone the organisation stands here, as its column is hidden. -->
          <span class="sub">
            <xsl:value-of select="TITLE"/>
            <span class="show-sm">
              <xsl:if test="TITLE and ORG/ORGNAME">, </xsl:if>
              <xsl:value-of select="ORG/ORGNAME"/>
            </span>
          </span>
        </xsl:if>
      </td>
      <td class="col-org hide-sm"><span class="cut"><xsl:value-of select="ORG/ORGNAME"/></span></td>
      <td class="col-phone">
        <xsl:variable name="phone" select="(TEL[PREF] | TEL[not(../TEL/PREF)])[1]"/>
        <xsl:if test="$phone">
          <a class="cut" href="tel:{translate(normalize-space($phone/NUMBER), ' ', '')}"><xsl:value-of select="$phone/NUMBER"/></a>
        </xsl:if>
      </td>
      <td class="col-mail hide-sm">
        <xsl:variable name="mail" select="(EMAIL[PREF] | EMAIL[not(../EMAIL/PREF)])[1]"/>
        <xsl:if test="$mail">
          <a class="cut" href="mailto:{normalize-space($mail/USERID)}" title="{$mail/USERID}"><xsl:value-of select="$mail/USERID"/></a>
        </xsl:if>
      </td>
      <td class="col-actions hide-sm">
        <!-- On a phone the name, which links to the card and its buttons, is enough. -->
        <a class="btn btn-small" href="edit.htm?ID={$id}">Edit</a>
        <a class="btn btn-small btn-danger-outline" href="delete.htm?ID={$id}">Delete</a>
      </td>
    </tr>
  </xsl:template>

</xsl:stylesheet>
