<?xml version="1.0" encoding="UTF-8"?>
<!-- The account form of new.htm and edit.htm: login (new accounts only),
     display name, password and the administrator flag. The script builds the
     User record; other elements of an edited record are posted back as they
     are. The password field is write-only: the stored hash never reaches the
     page, and the server hashes a new password before it is stored. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns="http://www.w3.org/1999/xhtml">

  <xsl:variable name="user-script"><![CDATA[
function pelorinSaveUser(form, command) {
  var login = pelorinTrimmed('login');
  if (command === 'insert') login = login.toLowerCase();
  if (!login) {
    alert('Please enter a login name.');
    return false;
  }
  if (/[\s:]/.test(login)) {
    alert('A login name cannot hold blanks or colons.');
    return false;
  }
  if (command === 'insert') {
    var taken = form.querySelectorAll('input.login-taken');
    for (var i = 0; i < taken.length; i++) {
      if (taken[i].value.toLowerCase() === login) {
        alert('There is already an account with this login.');
        return false;
      }
    }
  }
  var password = pelorinValue('password');
  if (password !== pelorinValue('password-repeat')) {
    alert('The two passwords differ.');
    return false;
  }
  // The stored password never comes to the page: an edit without a new one
  // posts none, and the server keeps the old one.
  if (!password && command === 'insert') {
    alert('Please enter a password.');
    return false;
  }
  if (/^[\s\x00-\x20]|[\s\x00-\x20]$/.test(password)) {
    alert('A password cannot begin or end with a blank.');
    return false;
  }
  var xml = '<User>' + pelorinElement('USER', login) + (password ? pelorinElement('PASSWORD', password) : '') +
      pelorinElement('NAME', pelorinTrimmed('display-name'));
  if (document.getElementById('admin').checked) xml += '<ADMIN/>';
  xml += pelorinAscii(pelorinValue('user-keep')) + '</User>';
  return pelorinPost(form, command, xml);
}
]]></xsl:variable>

  <!-- `account` is empty for a new account. -->
  <xsl:template name="user-form">
    <xsl:param name="account" select="/.."/>
    <xsl:param name="command"/>
    <xsl:param name="xpath"/>
    <xsl:variable name="last-admin" select="$account/ADMIN and not(/*/User[ADMIN][USER != $account/USER])"/>
    <xsl:call-template name="needs-script"/>
    <form id="user-form" class="card-form" action="index.htm" method="post" accept-charset="UTF-8"
          onsubmit="return pelorinSaveUser(this, '{$command}');">
      <div>
        <xsl:if test="$xpath != ''">
          <input type="hidden" name="xPath" value="{$xpath}"/>
        </xsl:if>
        <input type="hidden" name="Command" value=""/>
        <input type="hidden" name="XML" value=""/>
        <input type="hidden" name="Redirect" value="index.htm"/>
        <input type="hidden" id="user-keep">
          <xsl:attribute name="value">
            <xsl:apply-templates mode="serialize" select="$account/*[not(self::USER or self::PASSWORD
                or self::NAME or self::ADMIN or self::OWNER or self::LOGOUT)]"/>
          </xsl:attribute>
        </input>
        <xsl:if test="not($account)">
          <xsl:for-each select="/*/User/USER">
            <input type="hidden" class="login-taken" value="{.}"/>
          </xsl:for-each>
        </xsl:if>
      </div>
      <fieldset>
        <legend>Account</legend>
        <div class="grid">
          <div class="field">
            <label for="login">Login</label>
            <xsl:choose>
              <xsl:when test="$account">
                <input type="text" id="login" value="{$account/USER}" readonly="readonly"/>
                <span class="hint">The login of an account cannot change.</span>
              </xsl:when>
              <xsl:otherwise>
                <input type="text" id="login" value="" autocomplete="off"/>
                <span class="hint">Letters and digits; no blanks.</span>
              </xsl:otherwise>
            </xsl:choose>
          </div>
          <div class="field">
            <label for="display-name">Display name</label>
            <input type="text" id="display-name" value="{$account/NAME}"/>
          </div>
          <div class="field">
            <label for="password">Password</label>
            <input type="password" id="password" value="" autocomplete="new-password"/>
            <xsl:if test="$account">
              <span class="hint">Leave empty to keep the current password.</span>
            </xsl:if>
          </div>
          <div class="field">
            <label for="password-repeat">Repeat the password</label>
            <input type="password" id="password-repeat" value="" autocomplete="new-password"/>
          </div>
          <div class="field wide">
            <label class="check">
              <input type="checkbox" id="admin" value="ADMIN">
                <xsl:if test="$account/ADMIN"><xsl:attribute name="checked">checked</xsl:attribute></xsl:if>
                <xsl:if test="$last-admin"><xsl:attribute name="disabled">disabled</xsl:attribute></xsl:if>
              </input>
              <xsl:text> Administrator (may manage users and the configuration)</xsl:text>
            </label>
            <xsl:if test="$last-admin">
              <span class="hint">This is the last administrator, so it stays one.</span>
            </xsl:if>
          </div>
        </div>
      </fieldset>
      <xsl:if test="$account and translate($account/USER, $upper, $lower) = $USER">
        <p class="hint">After changing your own password the browser asks you to sign in again.</p>
      </xsl:if>
      <div class="form-actions">
        <button type="submit" class="btn btn-primary">Save</button>
        <a class="btn btn-link" href="index.htm">Cancel</a>
      </div>
    </form>
  </xsl:template>

</xsl:stylesheet>
