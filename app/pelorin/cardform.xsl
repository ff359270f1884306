<?xml version="1.0" encoding="UTF-8"?>
<!-- The card form of new.htm and edit.htm. The inputs carry no names, so only
     the four fields the server reads are posted; the script builds the record
     from the inputs. What the form does not edit (labels, position, time zone,
     revision and the like) travels in a hidden value and is posted back
     unchanged, so editing a card never loses a part of it. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:variable name="tel-types" select="'PREF WORK HOME CELL VOICE FAX PAGER MSG VIDEO CAR ISDN BBS MODEM '"/>
  <xsl:variable name="adr-types" select="'PREF HOME WORK DOM INTL POSTAL PARCEL '"/>
  <xsl:variable name="email-types" select="'INTERNET X400 AOL APPLELINK ATTMAIL CIS EWORLD IBMMAIL MCIMAIL POWERSHARE PRODIGY TLX '"/>

  <xsl:variable name="card-script"><![CDATA[
function pelorinRowField(row, cls) {
  var field = row.querySelector('.' + cls);
  return field ? field.value.replace(/^\s+|\s+$/g, '') : '';
}
function pelorinList(text) {
  var out = [];
  var pieces = text.split(',');
  for (var i = 0; i < pieces.length; i++) {
    var piece = pieces[i].replace(/^\s+|\s+$/g, '');
    if (piece) out.push(piece);
  }
  return out;
}
function pelorinMarkers(row, boxClass, otherClass) {
  var out = '';
  var boxes = row.querySelectorAll('input.' + boxClass);
  for (var i = 0; i < boxes.length; i++) {
    if (boxes[i].checked) out += pelorinMarker(boxes[i].value);
  }
  var other = row.querySelector('input.' + otherClass);
  if (other) {
    var words = other.value.split(/\s+/);
    for (var j = 0; j < words.length; j++) if (words[j]) out += pelorinMarker(words[j]);
  }
  return out;
}
function pelorinAddRow(cls) {
  var rows = document.querySelectorAll('.' + cls);
  if (!rows.length) return false;
  var last = rows[rows.length - 1];
  var copy = last.cloneNode(true);
  var fields = copy.querySelectorAll('input, textarea, select');
  for (var i = 0; i < fields.length; i++) {
    var f = fields[i];
    if (f.type === 'checkbox') f.checked = f.defaultChecked = false;
    else if (f.tagName.toLowerCase() === 'select') f.selectedIndex = 0;
    else f.value = '';
  }
  last.parentNode.insertBefore(copy, last.nextSibling);
  return false;
}
// A photo chosen in the form is read first (FileReader is asynchronous); the
// card is then built with it and the form sent.
function pelorinReadPhoto(form, command) {
  var file = document.getElementById('photo-file');
  if (!file || !file.files || !file.files.length || form.pelorinPhoto !== undefined) return true;
  var chosen = file.files[0];
  var error = document.getElementById('photo-error');
  if (chosen.type !== 'image/jpeg' && chosen.type !== 'image/png') {
    error.textContent = 'The photo must be a JPEG or PNG picture.';
    return false;
  }
  if (chosen.size > 1048576) {
    error.textContent = 'The photo is larger than 1 MB.';
    return false;
  }
  var reader = new FileReader();
  reader.onload = function () {
    var url = String(reader.result);
    form.pelorinPhoto = '<PHOTO><TYPE>' + chosen.type + '</TYPE><BINVAL>' + url.substring(url.indexOf(',') + 1) +
        '</BINVAL></PHOTO>';
    if (pelorinSaveCard(form, command)) form.submit();
  };
  reader.onerror = function () { error.textContent = 'The photo could not be read.'; };
  reader.readAsDataURL(chosen);
  return false;
}
// The group and parameters the card had for an element the form writes anew.
function pelorinParams(id) { return pelorinAscii(pelorinValue('params-' + id)); }
// A PREF=n kept there goes when the row is no longer marked preferred, or the
// parameter would bring the mark back.
function pelorinRowParams(row, markers) {
  var field = row.querySelector('input.row-params');
  var params = field ? pelorinAscii(field.value) : '';
  if (markers.indexOf('<PREF/>') < 0) {
    params = params.replace(/<PARAM><NAME>PREF<\/NAME>(<VALUE>[^<]*<\/VALUE>)*<\/PARAM>/g, '');
    if (params === '<PARAMS></PARAMS>') params = '';
  }
  return params;
}
function pelorinSaveCard(form, command) {
  if (!pelorinReadPhoto(form, command)) return false;
  var parts = ['PREFIX', 'GIVEN', 'MIDDLE', 'FAMILY', 'SUFFIX'];
  var name = {};
  var n = '';
  for (var i = 0; i < parts.length; i++) name[parts[i]] = pelorinTrimmed('n-' + parts[i].toLowerCase());
  var order = ['FAMILY', 'GIVEN', 'MIDDLE', 'PREFIX', 'SUFFIX'];
  for (var k = 0; k < order.length; k++) if (name[order[k]]) n += pelorinElement(order[k], name[order[k]]);
  var orgName = pelorinTrimmed('org-name');
  var units = [];
  var unitFields = form.querySelectorAll('.org-unit');
  for (var u = 0; u < unitFields.length; u++) {
    var unit = unitFields[u].value.replace(/^\s+|\s+$/g, '');
    if (unit) units.push(unit);
  }
  var fn = pelorinTrimmed('fn');
  if (!fn) {
    var pieces = [];
    for (var p = 0; p < parts.length; p++) if (name[parts[p]]) pieces.push(name[parts[p]]);
    fn = pieces.length ? pieces.join(' ') : orgName;
  }
  if (!fn) {
    alert('Please enter a name or an organisation.');
    return false;
  }
  var xml = '<vCard>';
  if (n) xml += '<N>' + n + '</N>' + pelorinParams('n');
  xml += pelorinElement('FN', fn) + pelorinParams('fn');
  var nicknames = pelorinList(pelorinValue('nickname'));
  for (var a = 0; a < nicknames.length; a++) xml += pelorinElement('NICKNAME', nicknames[a]);
  var bday = pelorinTrimmed('bday');
  if (bday) xml += pelorinElement('BDAY', bday) + pelorinParams('bday');
  if (orgName || units.length) {
    xml += '<ORG>' + pelorinElement('ORGNAME', orgName);
    for (var b = 0; b < units.length; b++) xml += pelorinElement('ORGUNIT', units[b]);
    xml += '</ORG>' + pelorinParams('org');
  }
  var title = pelorinTrimmed('title');
  if (title) xml += pelorinElement('TITLE', title) + pelorinParams('title');
  var role = pelorinTrimmed('role');
  if (role) xml += pelorinElement('ROLE', role) + pelorinParams('role');

  var tels = form.querySelectorAll('.tel-row');
  for (var t = 0; t < tels.length; t++) {
    var number = pelorinRowField(tels[t], 'tel-number');
    if (!number) continue;
    var telMarkers = pelorinMarkers(tels[t], 'tel-type', 'tel-other');
    // A number of no particular kind is a voice line, as in vCard itself.
    if (!/<(VOICE|FAX|VIDEO|PAGER|MODEM)\/>/.test(telMarkers)) telMarkers += '<VOICE/>';
    xml += '<TEL>' + pelorinElement('NUMBER', number) + telMarkers + '</TEL>' + pelorinRowParams(tels[t], telMarkers);
  }
  var mails = form.querySelectorAll('.email-row');
  for (var m = 0; m < mails.length; m++) {
    var address = pelorinRowField(mails[m], 'email-address');
    if (!address) continue;
    var pref = mails[m].querySelector('input.email-pref');
    var kind = mails[m].querySelector('select.email-type');
    xml += '<EMAIL>' + pelorinElement('USERID', address) + (pref && pref.checked ? '<PREF/>' : '') +
        (kind && kind.value ? pelorinMarker(kind.value) : '') + '</EMAIL>' +
        pelorinRowParams(mails[m], pref && pref.checked ? '<PREF/>' : '');
  }
  var adrParts = ['POBOX', 'EXTADR', 'STREET', 'LOCALITY', 'REGION', 'PCODE', 'CTRY'];
  var adrs = form.querySelectorAll('.adr-row');
  for (var r = 0; r < adrs.length; r++) {
    var components = '';
    for (var c = 0; c < adrParts.length; c++) {
      var value = pelorinRowField(adrs[r], 'adr-' + adrParts[c].toLowerCase());
      if (value) components += pelorinElement(adrParts[c], value.replace(/\r\n?/g, '\n'));
    }
    if (!components) continue;
    var adrMarkers = pelorinMarkers(adrs[r], 'adr-type', 'adr-other');
    // An address without a type gets the types vCard gives it by default.
    if (!adrMarkers) adrMarkers = '<INTL/><POSTAL/><PARCEL/><WORK/>';
    xml += '<ADR>' + adrMarkers + components + '</ADR>' + pelorinRowParams(adrs[r], adrMarkers);
  }
  var url = pelorinTrimmed('url');
  if (url) xml += pelorinElement('URL', url) + pelorinParams('url');
  var note = pelorinValue('note').replace(/\r\n?/g, '\n');
  if (/\S/.test(note)) xml += pelorinElement('NOTE', note) + pelorinParams('note');
  var keywords = pelorinList(pelorinValue('categories'));
  if (keywords.length) {
    xml += '<CATEGORIES>';
    for (var w = 0; w < keywords.length; w++) xml += pelorinElement('KEYWORD', keywords[w]);
    xml += '</CATEGORIES>';
  }
  // The photo: a new one, the one the card had (with its parameters), or none.
  var removed = document.getElementById('photo-remove');
  if (form.pelorinPhoto) {
    xml += form.pelorinPhoto;
  } else if (!(removed && removed.checked)) {
    xml += pelorinAscii(pelorinValue('card-photo'));
  }
  xml += pelorinAscii(pelorinValue('card-keep'));
  var id = pelorinValue('card-id');
  if (id) xml += pelorinElement('ID', id);
  xml += '</vCard>';
  return pelorinPost(form, command, xml);
}
]]></xsl:variable>

  <!-- The form. `card` is empty for a new card. -->
  <xsl:template name="card-form">
    <xsl:param name="card" select="/.."/>
    <xsl:param name="command"/>
    <xsl:param name="xpath"/>
    <xsl:param name="redirect"/>
    <xsl:param name="cancel"/>
    <xsl:call-template name="needs-script"/>
    <form id="card-form" class="card-form" action="index.htm" method="post" accept-charset="UTF-8"
          onsubmit="return pelorinSaveCard(this, '{$command}');">
      <div>
        <xsl:if test="$xpath != ''">
          <input type="hidden" name="xPath" value="{$xpath}"/>
        </xsl:if>
        <!-- Set by the script: without it the post changes nothing. -->
        <input type="hidden" name="Command" value=""/>
        <input type="hidden" name="XML" value=""/>
        <input type="hidden" name="Redirect" value="{$redirect}"/>
        <input type="hidden" id="card-id" value="{$card/ID[1]}"/>
        <input type="hidden" id="card-photo">
          <xsl:attribute name="value">
            <xsl:apply-templates mode="serialize"
                select="$card/PHOTO[1] | $card/PHOTO[1]/following-sibling::*[1][self::PARAMS]"/>
          </xsl:attribute>
        </input>
        <xsl:for-each select="$card/N[1] | $card/FN[1] | $card/BDAY[1] | $card/ORG[1] | $card/TITLE[1] | $card/ROLE[1]
                              | $card/URL[1] | $card/NOTE[1]">
          <input type="hidden" id="params-{translate(local-name(), 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')}">
            <xsl:attribute name="value">
              <xsl:apply-templates mode="serialize" select="following-sibling::*[1][self::PARAMS]"/>
            </xsl:attribute>
          </input>
        </xsl:for-each>
        <input type="hidden" id="card-keep">
          <xsl:attribute name="value">
            <!-- A PARAMS belongs to the element before it: it goes with a kept
                 element and is left out with one the form writes anew. -->
            <xsl:variable name="edited" select="$card/*[
                self::NICKNAME or self::TEL or self::EMAIL or self::ADR or self::CATEGORIES
                or self::OWNER or self::ID
                or (self::N and not(preceding-sibling::N)) or (self::FN and not(preceding-sibling::FN))
                or (self::BDAY and not(preceding-sibling::BDAY)) or (self::ORG and not(preceding-sibling::ORG))
                or (self::TITLE and not(preceding-sibling::TITLE)) or (self::ROLE and not(preceding-sibling::ROLE))
                or (self::URL and not(preceding-sibling::URL)) or (self::NOTE and not(preceding-sibling::NOTE))
                or (self::PHOTO and not(preceding-sibling::PHOTO))]"/>
            <xsl:apply-templates mode="serialize" select="$card/*[count(. | $edited) != count($edited)
                and not(self::PARAMS and count(preceding-sibling::*[1] | $edited) = count($edited))]"/>
          </xsl:attribute>
        </input>
      </div>

      <fieldset>
        <legend>Name</legend>
        <div class="grid">
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">n-prefix</xsl:with-param>
            <xsl:with-param name="label">Prefix</xsl:with-param>
            <xsl:with-param name="value" select="$card/N[1]/PREFIX"/>
            <xsl:with-param name="class">narrow</xsl:with-param>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">n-given</xsl:with-param>
            <xsl:with-param name="label">Given name</xsl:with-param>
            <xsl:with-param name="value" select="$card/N[1]/GIVEN"/>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">n-middle</xsl:with-param>
            <xsl:with-param name="label">Middle name</xsl:with-param>
            <xsl:with-param name="value" select="$card/N[1]/MIDDLE"/>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">n-family</xsl:with-param>
            <xsl:with-param name="label">Family name</xsl:with-param>
            <xsl:with-param name="value" select="$card/N[1]/FAMILY"/>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">n-suffix</xsl:with-param>
            <xsl:with-param name="label">Suffix</xsl:with-param>
            <xsl:with-param name="value" select="$card/N[1]/SUFFIX"/>
            <xsl:with-param name="class">narrow</xsl:with-param>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">fn</xsl:with-param>
            <xsl:with-param name="label">Name as shown</xsl:with-param>
            <xsl:with-param name="value" select="$card/FN[1]"/>
            <xsl:with-param name="hint">Made from the name parts when left empty.</xsl:with-param>
            <xsl:with-param name="class">wide</xsl:with-param>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">nickname</xsl:with-param>
            <xsl:with-param name="label">Nicknames</xsl:with-param>
            <xsl:with-param name="value">
              <xsl:for-each select="$card/NICKNAME">
                <xsl:if test="position() &gt; 1">, </xsl:if>
                <xsl:value-of select="."/>
              </xsl:for-each>
            </xsl:with-param>
            <xsl:with-param name="hint">Separated by commas.</xsl:with-param>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">bday</xsl:with-param>
            <xsl:with-param name="label">Birthday</xsl:with-param>
            <xsl:with-param name="value" select="$card/BDAY[1]"/>
            <xsl:with-param name="placeholder">YYYY-MM-DD</xsl:with-param>
          </xsl:call-template>
        </div>
      </fieldset>

      <fieldset>
        <legend>Work</legend>
        <div class="grid">
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">org-name</xsl:with-param>
            <xsl:with-param name="label">Organisation</xsl:with-param>
            <xsl:with-param name="value" select="$card/ORG[1]/ORGNAME"/>
            <xsl:with-param name="class">wide</xsl:with-param>
          </xsl:call-template>
          <xsl:for-each select="$card/ORG[1]/ORGUNIT">
            <xsl:call-template name="unit-input"><xsl:with-param name="value" select="."/></xsl:call-template>
          </xsl:for-each>
          <xsl:call-template name="unit-input"/>
          <xsl:if test="count($card/ORG[1]/ORGUNIT) = 0">
            <xsl:call-template name="unit-input"/>
          </xsl:if>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">title</xsl:with-param>
            <xsl:with-param name="label">Title</xsl:with-param>
            <xsl:with-param name="value" select="$card/TITLE[1]"/>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">role</xsl:with-param>
            <xsl:with-param name="label">Role</xsl:with-param>
            <xsl:with-param name="value" select="$card/ROLE[1]"/>
          </xsl:call-template>
        </div>
      </fieldset>

      <fieldset>
        <legend>Phones</legend>
        <xsl:for-each select="$card/TEL">
          <xsl:call-template name="tel-row"><xsl:with-param name="tel" select="."/></xsl:call-template>
        </xsl:for-each>
        <xsl:call-template name="blank-rows">
          <xsl:with-param name="kind">tel</xsl:with-param>
          <xsl:with-param name="count" select="3 - count($card/TEL)"/>
        </xsl:call-template>
        <button type="button" class="btn btn-small" onclick="return pelorinAddRow('tel-row');">Add a phone</button>
      </fieldset>

      <fieldset>
        <legend>E-mail</legend>
        <xsl:for-each select="$card/EMAIL">
          <xsl:call-template name="email-row"><xsl:with-param name="email" select="."/></xsl:call-template>
        </xsl:for-each>
        <xsl:call-template name="blank-rows">
          <xsl:with-param name="kind">email</xsl:with-param>
          <xsl:with-param name="count" select="3 - count($card/EMAIL)"/>
        </xsl:call-template>
        <button type="button" class="btn btn-small" onclick="return pelorinAddRow('email-row');">Add an e-mail address</button>
      </fieldset>

      <fieldset>
        <legend>Addresses</legend>
        <xsl:for-each select="$card/ADR">
          <xsl:call-template name="adr-row"><xsl:with-param name="adr" select="."/></xsl:call-template>
        </xsl:for-each>
        <xsl:call-template name="blank-rows">
          <xsl:with-param name="kind">adr</xsl:with-param>
          <xsl:with-param name="count" select="2 - count($card/ADR)"/>
        </xsl:call-template>
        <button type="button" class="btn btn-small" onclick="return pelorinAddRow('adr-row');">Add an address</button>
      </fieldset>

      <fieldset>
        <legend>More</legend>
        <div class="grid">
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">url</xsl:with-param>
            <xsl:with-param name="label">Web page</xsl:with-param>
            <xsl:with-param name="value" select="$card/URL[1]"/>
            <xsl:with-param name="class">wide</xsl:with-param>
            <xsl:with-param name="placeholder">https://</xsl:with-param>
          </xsl:call-template>
          <xsl:call-template name="text-input">
            <xsl:with-param name="id">categories</xsl:with-param>
            <xsl:with-param name="label">Categories</xsl:with-param>
            <xsl:with-param name="value">
              <xsl:for-each select="$card/CATEGORIES/KEYWORD">
                <xsl:if test="position() &gt; 1">, </xsl:if>
                <xsl:value-of select="."/>
              </xsl:for-each>
            </xsl:with-param>
            <xsl:with-param name="hint">Separated by commas.</xsl:with-param>
            <xsl:with-param name="class">wide</xsl:with-param>
          </xsl:call-template>
          <div class="field wide">
            <label for="note">Note</label>
            <textarea id="note" rows="4" cols="40"><xsl:value-of select="$card/NOTE[1]"/></textarea>
          </div>
        </div>
      </fieldset>

      <fieldset>
        <legend>Photo</legend>
        <xsl:if test="$card/PHOTO[1]/BINVAL">
          <p><img class="card-photo" src="photo?ID={$card/ID[1]}" alt="The card's photo"/></p>
          <div class="field">
            <label><input type="checkbox" id="photo-remove"/> Remove the photo</label>
          </div>
        </xsl:if>
        <div class="field wide">
          <label for="photo-file">
            <xsl:choose>
              <xsl:when test="$card/PHOTO">Replace the photo</xsl:when>
              <xsl:otherwise>Add a photo</xsl:otherwise>
            </xsl:choose>
            <xsl:text> (JPEG or PNG, up to 1 MB)</xsl:text>
          </label>
          <input type="file" id="photo-file" accept="image/jpeg,image/png"/>
          <p class="hint error" id="photo-error" role="alert"/>
        </div>
      </fieldset>

      <div class="form-actions">
        <button type="submit" class="btn btn-primary">Save</button>
        <a class="btn btn-link" href="{$cancel}">Cancel</a>
      </div>
    </form>
  </xsl:template>

  <xsl:template name="text-input">
    <xsl:param name="id"/>
    <xsl:param name="label"/>
    <xsl:param name="value"/>
    <xsl:param name="hint"/>
    <xsl:param name="class"/>
    <xsl:param name="placeholder"/>
    <div class="field {$class}">
      <label for="{$id}"><xsl:value-of select="$label"/></label>
      <input type="text" id="{$id}" value="{$value}">
        <xsl:if test="$placeholder != ''"><xsl:attribute name="placeholder"><xsl:value-of select="$placeholder"/></xsl:attribute></xsl:if>
      </input>
      <xsl:if test="$hint != ''"><span class="hint"><xsl:value-of select="$hint"/></span></xsl:if>
    </div>
  </xsl:template>

  <xsl:template name="unit-input">
    <xsl:param name="value"/>
    <div class="field">
      <label>Unit <input type="text" class="org-unit" value="{$value}"/></label>
    </div>
  </xsl:template>

  <xsl:template name="blank-rows">
    <xsl:param name="kind"/>
    <xsl:param name="count"/>
    <xsl:choose>
      <xsl:when test="$kind = 'tel'"><xsl:call-template name="tel-row"/></xsl:when>
      <xsl:when test="$kind = 'email'"><xsl:call-template name="email-row"/></xsl:when>
      <xsl:otherwise><xsl:call-template name="adr-row"/></xsl:otherwise>
    </xsl:choose>
    <xsl:if test="$count &gt; 1">
      <xsl:call-template name="blank-rows">
        <xsl:with-param name="kind" select="$kind"/>
        <xsl:with-param name="count" select="$count - 1"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <!-- Check boxes for the words of `types` (each followed by a blank). -->
  <xsl:template name="type-boxes">
    <xsl:param name="types"/>
    <xsl:param name="class"/>
    <xsl:param name="item" select="/.."/>
    <xsl:param name="default"/>
    <xsl:if test="$types != ''">
      <xsl:variable name="type" select="substring-before($types, ' ')"/>
      <label class="check">
        <input type="checkbox" class="{$class}" value="{$type}">
          <xsl:if test="$item/*[local-name() = $type] or (not($item) and $type = $default)">
            <xsl:attribute name="checked">checked</xsl:attribute>
          </xsl:if>
        </input>
        <xsl:text> </xsl:text>
        <xsl:call-template name="marker-label"><xsl:with-param name="marker" select="$type"/></xsl:call-template>
      </label>
      <xsl:call-template name="type-boxes">
        <xsl:with-param name="types" select="substring-after($types, ' ')"/>
        <xsl:with-param name="class" select="$class"/>
        <xsl:with-param name="item" select="$item"/>
        <xsl:with-param name="default" select="$default"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <!-- The markers of an item that no check box offers, kept as they are. -->
  <xsl:template name="other-markers">
    <xsl:param name="item" select="/.."/>
    <xsl:param name="types"/>
    <xsl:param name="class"/>
    <input type="hidden" class="{$class}">
      <xsl:attribute name="value">
        <xsl:for-each select="$item/*[not(node())][not(contains(concat(' ', $types), concat(' ', local-name(), ' ')))]">
          <xsl:value-of select="concat(local-name(), ' ')"/>
        </xsl:for-each>
      </xsl:attribute>
    </input>
  </xsl:template>

  <xsl:template name="tel-row">
    <xsl:param name="tel" select="/.."/>
    <div class="row tel-row">
      <!-- The group and parameters of this phone, written back after it. -->
      <input type="hidden" class="row-params">
        <xsl:attribute name="value">
          <xsl:apply-templates mode="serialize" select="$tel/following-sibling::*[1][self::PARAMS]"/>
        </xsl:attribute>
      </input>
      <input type="tel" class="tel-number" value="{$tel/NUMBER}" aria-label="Phone number" placeholder="Phone number"/>
      <div class="checks">
        <xsl:call-template name="type-boxes">
          <xsl:with-param name="types" select="$tel-types"/>
          <xsl:with-param name="class">tel-type</xsl:with-param>
          <xsl:with-param name="item" select="$tel"/>
        </xsl:call-template>
      </div>
      <xsl:call-template name="other-markers">
        <xsl:with-param name="item" select="$tel"/>
        <xsl:with-param name="types" select="$tel-types"/>
        <xsl:with-param name="class">tel-other</xsl:with-param>
      </xsl:call-template>
    </div>
  </xsl:template>

  <xsl:template name="email-row">
    <xsl:param name="email" select="/.."/>
    <xsl:variable name="kind" select="local-name($email/*[not(node())][not(self::PREF)][1])"/>
    <div class="row email-row">
      <!-- The group and parameters of this address, written back after it. -->
      <input type="hidden" class="row-params">
        <xsl:attribute name="value">
          <xsl:apply-templates mode="serialize" select="$email/following-sibling::*[1][self::PARAMS]"/>
        </xsl:attribute>
      </input>
      <input type="email" class="email-address" value="{$email/USERID}" aria-label="E-mail address" placeholder="E-mail address"/>
      <div class="checks">
        <label class="check">
          <input type="checkbox" class="email-pref" value="PREF">
            <xsl:if test="$email/PREF"><xsl:attribute name="checked">checked</xsl:attribute></xsl:if>
          </input>
          <xsl:text> preferred</xsl:text>
        </label>
        <label class="check">
          <xsl:text>Kind </xsl:text>
          <select class="email-type">
            <xsl:call-template name="email-options">
              <xsl:with-param name="types" select="$email-types"/>
              <xsl:with-param name="selected">
                <xsl:choose>
                  <xsl:when test="not($email)">INTERNET</xsl:when>
                  <xsl:otherwise><xsl:value-of select="$kind"/></xsl:otherwise>
                </xsl:choose>
              </xsl:with-param>
            </xsl:call-template>
            <xsl:if test="$kind != '' and not(contains(concat(' ', $email-types), concat(' ', $kind, ' ')))">
              <option value="{$kind}" selected="selected"><xsl:value-of select="$kind"/></option>
            </xsl:if>
            <option value="">
              <xsl:if test="$email and $kind = ''"><xsl:attribute name="selected">selected</xsl:attribute></xsl:if>
              <xsl:text>(none)</xsl:text>
            </option>
          </select>
        </label>
      </div>
    </div>
  </xsl:template>

  <xsl:template name="email-options">
    <xsl:param name="types"/>
    <xsl:param name="selected"/>
    <xsl:if test="$types != ''">
      <xsl:variable name="type" select="substring-before($types, ' ')"/>
      <option value="{$type}">
        <xsl:if test="$type = $selected"><xsl:attribute name="selected">selected</xsl:attribute></xsl:if>
        <xsl:call-template name="marker-label"><xsl:with-param name="marker" select="$type"/></xsl:call-template>
      </option>
      <xsl:call-template name="email-options">
        <xsl:with-param name="types" select="substring-after($types, ' ')"/>
        <xsl:with-param name="selected" select="$selected"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

  <xsl:template name="adr-row">
    <xsl:param name="adr" select="/.."/>
    <div class="row adr-row">
      <!-- The group and parameters of this address, written back after it. -->
      <input type="hidden" class="row-params">
        <xsl:attribute name="value">
          <xsl:apply-templates mode="serialize" select="$adr/following-sibling::*[1][self::PARAMS]"/>
        </xsl:attribute>
      </input>
      <div class="checks">
        <xsl:call-template name="type-boxes">
          <xsl:with-param name="types" select="$adr-types"/>
          <xsl:with-param name="class">adr-type</xsl:with-param>
          <xsl:with-param name="item" select="$adr"/>
          <xsl:with-param name="default">HOME</xsl:with-param>
        </xsl:call-template>
      </div>
      <xsl:call-template name="other-markers">
        <xsl:with-param name="item" select="$adr"/>
        <xsl:with-param name="types" select="$adr-types"/>
        <xsl:with-param name="class">adr-other</xsl:with-param>
      </xsl:call-template>
      <div class="grid">
        <div class="field wide">
          <label>Street <textarea class="adr-street" rows="2" cols="40"><xsl:value-of select="$adr/STREET"/></textarea></label>
        </div>
        <div class="field"><label>Extended address <input type="text" class="adr-extadr" value="{$adr/EXTADR}"/></label></div>
        <div class="field"><label>PO box <input type="text" class="adr-pobox" value="{$adr/POBOX}"/></label></div>
        <div class="field narrow"><label>Postal code <input type="text" class="adr-pcode" value="{$adr/PCODE}"/></label></div>
        <div class="field"><label>City <input type="text" class="adr-locality" value="{$adr/LOCALITY}"/></label></div>
        <div class="field"><label>Region <input type="text" class="adr-region" value="{$adr/REGION}"/></label></div>
        <div class="field"><label>Country <input type="text" class="adr-ctry" value="{$adr/CTRY}"/></label></div>
      </div>
    </div>
  </xsl:template>

</xsl:stylesheet>
