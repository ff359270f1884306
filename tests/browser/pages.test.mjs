// The pages of the card, user and configuration areas used as a person uses
// them: headless Chromium against the real service, signed in with Basic
// credentials, clicking links and filling forms. One service and one browser
// serve the whole file; the tests run in order and build on each other's cards
// only where a test says so.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { AddAccount, CardDetails, CardDetailsOf, CardIdOf, CardNames, CardRows, InsertCard } from './card_pages.mjs';
import { LaunchBrowser, SignedInContext } from './chromium.mjs';
import { StartService } from './service.mjs';

const kHere = path.dirname(fileURLToPath(import.meta.url));
// Set by CMake for ctest; by hand, the application directory of scripts/demo's build.
const kAppDir = process.env.PELORIN_APP_DIR ?? path.resolve(kHere, '../../build/app');
const kScreenshotDir = process.env.PELORIN_SCREENSHOT_DIR ?? path.join(kHere, 'artifacts', 'screenshots');
// Five vCard 3.0 cards whose names hold letters beyond ASCII.
const kImportFile = path.resolve(kHere, '../data/vcards/five_contacts30.vcf');

let service;
let browser;
let admin;  // the administrator's context

// The names in the FN lines of a vCard file, which the list shows for cards
// without name parts.
// "Family, Given" of every card, as the card list shows names.
function ListedNames(vcard_text) {
  return [...vcard_text.matchAll(/^N:([^;\r\n]*);([^;\r\n]*)/gm)].map((match) => `${match[1]}, ${match[2]}`);
}

// Shows the card list in the context's one page (opening a page costs more
// than a navigation).
async function OpenCardList(context) {
  context.page ??= await context.newPage();
  const page = context.page;
  const answer = await page.goto('/pelorin/index.htm');
  assert.equal(answer.status(), 200);
  return page;
}

function AssertNoDialogs(context) {
  assert.deepEqual(context.dialogs, [], 'a page raised a script dialog');
}

describe('Pelorin pages in Chromium', { timeout: 120000 }, () => {
  before(async () => {
    fs.mkdirSync(kScreenshotDir, { recursive: true });
    service = await StartService(kAppDir);
    browser = await LaunchBrowser();
    admin = await SignedInContext(browser, service.origin, 'admin', 'admin');
  });

  after(async () => {
    await browser?.close();
    if (service?.running) await service.Stop();
    service?.Remove();
  });

  test('the administrator signs in and sees the card list, the display name and the admin links', async () => {
    const page = await OpenCardList(admin);
    await assert.doesNotReject(page.locator('h1', { hasText: 'Address cards' }).waitFor());
    assert.equal(await page.locator('.account .who').textContent(), 'Administrator');
    // The page's style rules apply: the top bar is dark, the page is not the
    // browser's plain default.
    assert.equal(await page.locator('.topbar').evaluate((bar) => getComputedStyle(bar).backgroundColor),
        'rgb(17, 24, 39)');
    const nav = page.locator('.topbar .nav a');
    assert.deepEqual(await nav.allTextContents(), ['Cards', 'Users', 'Configuration']);
    await page.locator('.topbar .nav a', { hasText: 'Users' }).click();
    await page.waitForURL('**/user/index.htm');
    assert.ok(await page.locator('table.users td.name', { hasText: 'admin' }).isVisible());
    await page.locator('.topbar .nav a', { hasText: 'Configuration' }).click();
    await page.waitForURL('**/config/index.htm');
    assert.equal(await page.locator('#port').inputValue(), String(service.port));
    await page.screenshot({ path: path.join(kScreenshotDir, 'configuration.png'), fullPage: true });
    AssertNoDialogs(admin);
  });

  test('a card added through the form with two phones shows in the list and on its card page', async () => {
    const page = await OpenCardList(admin);
    await page.locator('.toolbar').getByRole('link', { name: 'New card' }).click();
    await page.waitForURL('**/pelorin/new.htm');
    await page.fill('#n-given', 'Ingrid');
    await page.fill('#n-family', 'Øvergård');
    await page.fill('#org-name', 'Nordlys Shipping AS');
    await page.fill('#title', 'Harbour master');
    const phones = page.locator('.tel-row');
    await phones.nth(0).locator('.tel-number').fill('+47 22 33 44 55');
    await phones.nth(0).locator('input.tel-type[value="WORK"]').check();
    await phones.nth(1).locator('.tel-number').fill('+47 912 34 567');
    await phones.nth(1).locator('input.tel-type[value="CELL"]').check();
    await page.locator('.email-row .email-address').first().fill('ingrid@nordlys.example');
    await page.screenshot({ path: path.join(kScreenshotDir, 'card-form.png'), fullPage: true });
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL('**/pelorin/index.htm');

    assert.deepEqual(await CardRows(page),
        ['Øvergård, Ingrid Harbour master | Nordlys Shipping AS | +47 22 33 44 55 | ingrid@nordlys.example']);
    await page.locator('td.name > a', { hasText: 'Øvergård, Ingrid' }).click();
    await page.waitForURL(/\/pelorin\/card\.htm\?ID=\d+$/);
    assert.equal(await page.locator('h1').textContent(), 'Ingrid Øvergård');
    const details = await CardDetails(page);
    assert.ok(details.includes('Phone: +47 22 33 44 55 work voice'), details.join('\n'));
    assert.ok(details.includes('Phone: +47 912 34 567 mobile voice'), details.join('\n'));
    assert.ok(details.includes('E-mail: ingrid@nordlys.example internet'), details.join('\n'));
    assert.ok(details.includes('Family name: Øvergård'), details.join('\n'));
    AssertNoDialogs(admin);
  });

  test('editing the card changes the field and keeps its identifier and both phones', async () => {
    const page = await OpenCardList(admin);
    const id = await CardIdOf(page, 'Øvergård, Ingrid');
    await page.goto(`/pelorin/card.htm?ID=${id}`);
    await page.getByRole('link', { name: 'Edit', exact: true }).click();
    await page.waitForURL(`**/pelorin/edit.htm?ID=${id}`);
    assert.equal(await page.locator('#title').inputValue(), 'Harbour master');
    await page.fill('#title', 'Port director');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);

    assert.equal(await page.locator('p.lead').textContent(), 'Nordlys Shipping AS · Port director');
    const details = await CardDetails(page);
    assert.ok(details.includes('Title: Port director'), details.join('\n'));
    assert.ok(!details.some((row) => row.includes('Harbour master')), details.join('\n'));
    assert.equal(details.filter((row) => row.startsWith('Phone:')).length, 2, details.join('\n'));
    await page.screenshot({ path: path.join(kScreenshotDir, 'card.png'), fullPage: true });
    await page.goto('/pelorin/index.htm');
    assert.equal((await CardNames(page)).length, 1, 'the edit left a second copy of the card');
    AssertNoDialogs(admin);
  });

  test('editing a card keeps the groups and parameters of the fields the form shows', async () => {
    const xml = '<vCard><N><FAMILY>Lindqvist</FAMILY><GIVEN>Maja</GIVEN></N><FN>Maja Lindqvist</FN>' +
        '<PARAMS><PARAM><NAME>LANGUAGE</NAME><VALUE>sv</VALUE></PARAM></PARAMS>' +
        '<TEL><NUMBER>+46 8 123 45</NUMBER><PREF/><CELL/><VOICE/></TEL>' +
        '<PARAMS><GROUP>item1</GROUP><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM></PARAMS>' +
        '<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><VALUE>mobil</VALUE></PROP></vCard>';
    const posted = await admin.request.post('/pelorin/index.htm',
        { form: { Command: 'insert', XML: xml, Redirect: 'index.htm' }, maxRedirects: 0 });
    assert.equal(posted.status(), 302);
    const page = await OpenCardList(admin);
    const id = await CardIdOf(page, 'Lindqvist, Maja');
    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    await page.fill('#title', 'Editor');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
    const card = await (await admin.request.get(`/pelorin/card.vcf?ID=${id}`)).text();
    assert.match(card, /\r\nFN;LANGUAGE=sv:Maja Lindqvist\r\n/);
    assert.match(card, /\r\nitem1\.TEL;PREF=1;TYPE=cell,voice:\+46 8 123 45\r\n/);
    assert.match(card, /\r\nitem1\.X-ABLabel:mobil\r\n/);
    assert.match(card, /\r\nTITLE:Editor\r\n/);

    // Unmarking the phone as preferred takes its PREF=1 away as well.
    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    await page.locator('.tel-row').first().locator('input.tel-type[value="PREF"]').uncheck();
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
    const again = await (await admin.request.get(`/pelorin/card.vcf?ID=${id}`)).text();
    assert.match(again, /\r\nitem1\.TEL;TYPE=cell,voice:\+46 8 123 45\r\n/);
    // The card goes again: the tests after this one count the admin's cards.
    const removed = await admin.request.post('/pelorin/index.htm',
        { form: { Command: 'delete', xPath: `/*/vCard[ID="${id}"]`, Redirect: 'index.htm' }, maxRedirects: 0 });
    assert.equal(removed.status(), 302);
    AssertNoDialogs(admin);
  });

  test('a photo added in the edit form shows on the card page, and removing it takes it away', async () => {
    const page = await OpenCardList(admin);
    const id = await CardIdOf(page, 'Øvergård, Ingrid');
    // A 2 × 2 PNG, made here so that the test carries no picture file.
    const png = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEElEQVR4nGP4z8AARAwQCgAf7gP9i18U1AAAAABJRU5ErkJggg==', 'base64');
    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    await page.setInputFiles('#photo-file', { name: 'ingrid.png', mimeType: 'image/png', buffer: png });
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
    const photo = page.locator('img.card-photo');
    await photo.waitFor();
    assert.equal(await photo.evaluate((img) => img.complete && img.naturalWidth), 2, 'the photo did not load');
    const served = await admin.request.get(`/pelorin/photo?ID=${id}`);
    assert.equal(served.headers()['content-type'], 'image/png');
    assert.deepEqual(Buffer.from(await served.body()), png);
    const details = await CardDetails(page);
    assert.equal(details.filter((row) => row.startsWith('Phone:')).length, 2, details.join('\n'));

    // A picture that is not JPEG or PNG is refused in the form, before anything is sent.
    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    await page.setInputFiles('#photo-file', { name: 'note.txt', mimeType: 'text/plain', buffer: Buffer.from('hi') });
    await page.getByRole('button', { name: 'Save' }).click();
    assert.equal(await page.locator('#photo-error').textContent(), 'The photo must be a JPEG or PNG picture.');
    assert.ok(page.url().includes('/pelorin/edit.htm'), page.url());

    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    await page.check('#photo-remove');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
    assert.equal(await page.locator('img.card-photo').count(), 0);
    assert.equal((await admin.request.get(`/pelorin/photo?ID=${id}`)).status(), 404);
    AssertNoDialogs(admin);
  });

  test('the search box finds the card without regard to case and hides the others', async () => {
    await InsertCard(admin, { fn: 'Tomás Herrera', family: 'Herrera', given: 'Tomás', org: 'Lumen Opticians',
      tels: [['+34 91 555 0142', 'WORK', 'VOICE']], emails: ['tomas@lumen.example'] });
    await InsertCard(admin, { fn: 'Amara Okafor', family: 'Okafor', given: 'Amara', org: 'Nordlys Freight',
      tels: [['+44 20 7946 0958', 'CELL', 'VOICE']] });
    const page = await OpenCardList(admin);
    assert.equal((await CardNames(page)).length, 3);

    await page.fill('input[name="q"]', 'øVERGÅRD');
    await page.getByRole('button', { name: 'Search' }).click();
    await page.waitForURL(/index\.htm\?q=/);
    assert.deepEqual(await CardNames(page), ['Øvergård, Ingrid']);
    assert.equal((await page.locator('p.count').textContent()).replace(/\s+/g, ' ').trim(), '1 card found among 3');

    // A word two cards share finds both, and only those.
    await page.fill('input[name="q"]', 'NORDLYS');
    await page.getByRole('button', { name: 'Search' }).click();
    await page.waitForURL(/q=NORDLYS/);
    assert.deepEqual(await CardNames(page), ['Okafor, Amara', 'Øvergård, Ingrid']);

    // A phone number written without its blanks still matches.
    await page.fill('input[name="q"]', '91234567');
    await page.getByRole('button', { name: 'Search' }).click();
    await page.waitForURL(/q=91234567/);
    assert.deepEqual(await CardNames(page), ['Øvergård, Ingrid']);

    await page.fill('input[name="q"]', 'Øvergårdx');
    await page.getByRole('button', { name: 'Search' }).click();
    await page.waitForURL(/q=/);
    assert.deepEqual(await CardNames(page), []);
    assert.match(await page.locator('p.empty').textContent(), /No card matches/);
    AssertNoDialogs(admin);
  });

  test('a multi-card vCard file imported through the import page shows every card', async () => {
    const file_names = ListedNames(fs.readFileSync(kImportFile, 'utf8'));
    assert.equal(file_names.length, 5, 'the test file changed');
    const page = await OpenCardList(admin);
    const before_count = (await CardNames(page)).length;
    await page.getByRole('link', { name: 'Import', exact: true }).click();
    await page.waitForURL('**/pelorin/import.htm');
    await page.screenshot({ path: path.join(kScreenshotDir, 'import.png'), fullPage: true });
    await page.setInputFiles('input[type="file"]', kImportFile);
    await page.getByRole('button', { name: 'Import' }).click();
    await page.waitForURL('**/pelorin/importedmsg.htm');
    assert.equal(await page.locator('h1').textContent(), 'Import finished');
    assert.match(await page.locator('.main').textContent(), new RegExp(`You now have ${before_count + 5} cards\\.`));

    await page.getByRole('link', { name: 'Show my cards' }).click();
    await page.waitForURL('**/pelorin/index.htm');
    const text = await page.locator('table.cards').textContent();
    for (const name of file_names) {
      assert.ok(text.includes(name), `"${name}" is not in the list:\n${text}`);
    }
    assert.equal((await CardNames(page)).length, before_count + 5);
    AssertNoDialogs(admin);
  });

  test('the export read back into a fresh account gives the same cards', async () => {
    const exported = await admin.request.get('/pelorin/export.vcf');
    assert.equal(exported.status(), 200);
    assert.match(exported.headers()['content-type'], /^text\/x-vcard/);
    const vcf = await exported.body();
    const list = await OpenCardList(admin);
    const admin_rows = await CardRows(list);
    assert.equal(vcf.toString('latin1').match(/^BEGIN:VCARD\r$/gm)?.length, admin_rows.length);

    await AddAccount(admin, { login: 'mirror', password: 'Mirror-pass1', name: 'Mirror account' });
    const mirror = await SignedInContext(browser, service.origin, 'mirror', 'Mirror-pass1');
    try {
      const page = await mirror.newPage();
      await page.goto('/pelorin/import.htm');
      await page.setInputFiles('input[type="file"]', { name: 'export.vcf', mimeType: 'text/x-vcard', buffer: vcf });
      await page.getByRole('button', { name: 'Import' }).click();
      await page.waitForURL('**/pelorin/importedmsg.htm');
      await page.goto('/pelorin/index.htm');
      assert.deepEqual(await CardRows(page), admin_rows);

      // Every card page, matched by its place in the list (both lists sort alike).
      const links = (list_page) => list_page.locator('td.name > a').evaluateAll((as) => as.map((a) => a.href));
      const admin_cards = await CardDetailsOf(list, await links(list));
      const mirror_cards = await CardDetailsOf(page, await links(page));
      assert.equal(mirror_cards.length, admin_rows.length);
      for (let i = 0; i < admin_cards.length; ++i) {
        assert.ok(admin_cards[i].length > 0, `card ${admin_rows[i]} shows no details`);
        assert.deepEqual(mirror_cards[i], admin_cards[i], `card ${admin_rows[i]}`);
      }
      AssertNoDialogs(mirror);
    } finally {
      await mirror.close();
    }
  });

  test('deleting a card asks first, and only the confirmation removes it', async () => {
    const page = await OpenCardList(admin);
    const count = (await CardNames(page)).length;
    const id = await CardIdOf(page, 'Herrera, Tomás');
    await page.locator('tr', { hasText: 'Herrera, Tomás' }).getByRole('link', { name: 'Delete' }).click();
    await page.waitForURL(`**/pelorin/delete.htm?ID=${id}`);
    assert.match(await page.locator('.confirm').textContent(), /Delete the card of\s+Herrera, Tomás\?/);

    await page.getByRole('link', { name: 'Cancel' }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
    assert.equal(await page.locator('h1').textContent(), 'Tomás Herrera');

    await page.goto(`/pelorin/delete.htm?ID=${id}`);
    await page.getByRole('button', { name: 'Delete' }).click();
    await page.waitForURL('**/pelorin/index.htm');
    const names = await CardNames(page);
    assert.equal(names.length, count - 1);
    assert.ok(!names.includes('Herrera, Tomás'));
    await page.goto(`/pelorin/card.htm?ID=${id}`);
    assert.equal(await page.locator('h1').textContent(), 'Card not found');
    AssertNoDialogs(admin);
  });

  test('the logout link makes the next request ask for credentials again', async () => {
    // This context sends the credentials with every request itself, as a browser
    // does once it has them, and never answers a challenge: a 401 stays visible.
    const basic = `Basic ${Buffer.from('admin:admin').toString('base64')}`;
    const context = await browser.newContext({ baseURL: service.origin, extraHTTPHeaders: { Authorization: basic } });
    try {
      const page = await context.newPage();
      assert.equal((await page.goto('/pelorin/index.htm')).status(), 200);
      const [challenge] = await Promise.all([
        page.waitForResponse((answer) => answer.url().endsWith('/pelorin/index.htm')),
        page.getByRole('link', { name: 'Log out' }).click(),
      ]);
      assert.equal(challenge.status(), 401);
      assert.equal(challenge.headers()['www-authenticate'], 'Basic realm="Please select your account."');
      assert.equal(await page.locator('h1', { hasText: 'Address cards' }).count(), 0);
      // The refusal was the one after the logout; the same credentials work again.
      assert.equal((await page.reload()).status(), 200);
      assert.equal((await page.reload()).status(), 200);
    } finally {
      await context.close();
    }
  });

  test('an ordinary user gets 403 in the user and configuration areas and sees no links to them', async () => {
    await AddAccount(admin, { login: 'olaf', password: 'olaf-secret', name: 'Olaf Berg' });
    const olaf = await SignedInContext(browser, service.origin, 'olaf', 'olaf-secret');
    try {
      const page = await olaf.newPage();
      for (const target of ['/user/index.htm', '/config/index.htm', '/user/new.htm']) {
        const answer = await page.goto(target);
        assert.equal(answer.status(), 403, target);
        assert.equal(await page.locator('body').textContent(), 'User needs administrator rights.');
      }
      assert.equal((await page.goto('/pelorin/index.htm')).status(), 200);
      assert.deepEqual(await page.locator('.topbar .nav a').allTextContents(), ['Cards']);
      assert.equal(await page.locator('.account .who').textContent(), 'Olaf Berg');
    } finally {
      await olaf.close();
    }
  });

  test('a user the administrator adds on the users page signs in and sees only their own cards', async () => {
    const page = await OpenCardList(admin);
    await page.goto('/user/index.htm');
    await page.getByRole('link', { name: 'New user' }).click();
    await page.waitForURL('**/user/new.htm');
    await page.fill('#login', 'Dana');
    await page.fill('#display-name', 'Dana Whitfield');
    await page.fill('#password', 'dana-Pass 7');
    await page.fill('#password-repeat', 'dana-Pass 7');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL('**/user/index.htm');
    const row = page.locator('table.users tbody tr', { hasText: 'dana' });
    assert.equal(await row.locator('td').nth(1).textContent(), 'Dana Whitfield');
    assert.equal(await row.locator('td').nth(2).textContent(), 'cards');
    await page.screenshot({ path: path.join(kScreenshotDir, 'users.png'), fullPage: true });

    // The login is stored in lower case; signing in with capitals still works.
    const dana = await SignedInContext(browser, service.origin, 'DANA', 'dana-Pass 7');
    try {
      const own = await OpenCardList(dana);
      assert.equal(await own.locator('.account .who').textContent(), 'Dana Whitfield');
      assert.match(await own.locator('p.empty').textContent(), /no address cards yet/);
      await InsertCard(dana, { fn: 'Priya Raman', family: 'Raman', given: 'Priya', tels: [['+1 415 555 0100', 'VOICE']] });
      await own.reload();
      assert.deepEqual(await CardNames(own), ['Raman, Priya']);
      // Another account's card cannot be opened by its identifier either.
      const admin_list = await OpenCardList(admin);
      const admin_id = await CardIdOf(admin_list, 'Øvergård, Ingrid');
      await own.goto(`/pelorin/card.htm?ID=${admin_id}`);
      assert.equal(await own.locator('h1').textContent(), 'Card not found');
      assert.ok(!(await CardNames(admin_list)).includes('Raman, Priya'), 'the admin sees the new user\'s card');
      AssertNoDialogs(dana);
    } finally {
      await dana.close();
    }
    // A password that differs in the case of one letter is refused.
    const wrong = await browser.newContext({ baseURL: service.origin,
      httpCredentials: { username: 'dana', password: 'dana-pass 7', origin: service.origin } });
    try {
      assert.equal((await wrong.request.get('/pelorin/index.htm')).status(), 401);
    } finally {
      await wrong.close();
    }
  });

  test('a card named <script>alert(1)</script> shows as text and runs nothing', async () => {
    const hostile = '<script>alert(1)</script>';
    const page = await OpenCardList(admin);
    await page.goto('/pelorin/new.htm');
    await page.fill('#fn', hostile);
    await page.fill('#org-name', '"><img src=x onerror=alert(2)>');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL('**/pelorin/index.htm');
    await page.locator('td.name > a', { hasText: hostile }).waitFor();
    assert.ok(await page.getByText(hostile).first().isVisible());
    const id = await CardIdOf(page, hostile);

    for (const target of [`card.htm?ID=${id}`, `edit.htm?ID=${id}`, `delete.htm?ID=${id}`, 'index.htm?q=alert']) {
      await page.goto(`/pelorin/${target}`);
      // Only the pages' own form scripts may exist, and no image the name brought.
      assert.equal(await page.locator('script', { hasText: 'alert(1)' }).count(), 0, target);
      assert.equal(await page.locator('img').count(), 0, target);
    }
    await page.goto(`/pelorin/card.htm?ID=${id}`);
    assert.equal(await page.locator('h1').textContent(), hostile);
    await page.goto(`/pelorin/edit.htm?ID=${id}`);
    assert.equal(await page.locator('#fn').inputValue(), hostile);
    await page.waitForTimeout(200);  // a dialog from a late handler would arrive by now
    AssertNoDialogs(admin);
  });

  test('screenshots of a card list in everyday use, on a desktop and on a phone', async () => {
    await AddAccount(admin, { login: 'lena', password: 'lena-pass', name: 'Lena Fischer' });
    const lena = await SignedInContext(browser, service.origin, 'lena', 'lena-pass');
    try {
      const cards = [
        { fn: 'Jonas Becker', family: 'Becker', given: 'Jonas', org: 'Becker & Söhne GmbH', title: 'Managing director',
          tels: [['+49 30 901820', 'WORK', 'VOICE'], ['+49 151 2345 6789', 'CELL', 'VOICE']], emails: ['jonas@becker-soehne.example'] },
        { fn: 'Claire Dubois', family: 'Dubois', given: 'Claire', org: 'Atelier Lumière',
          tels: [['+33 1 42 68 53 00', 'WORK', 'VOICE']], emails: ['claire.dubois@atelier-lumiere.example'] },
        { fn: 'Dr. Mei Chen', family: 'Chen', given: 'Mei', org: 'Westside Family Practice', title: 'General practitioner',
          tels: [['+1 206 555 0147', 'WORK', 'VOICE']], emails: ['appointments@westside-practice.example'] },
        { fn: 'Sven Lindqvist', family: 'Lindqvist', given: 'Sven', tels: [['+46 70 123 45 67', 'CELL', 'VOICE']],
          emails: ['sven.lindqvist@mail.example'] },
        { fn: 'Greenleaf Plumbing', org: 'Greenleaf Plumbing', tels: [['+1 503 555 0199', 'WORK', 'VOICE']],
          emails: ['service@greenleaf.example'] },
        { fn: 'Aisha Rahman', family: 'Rahman', given: 'Aisha', org: 'City Library', title: 'Head librarian',
          tels: [['+44 161 496 0321', 'WORK', 'VOICE']], emails: ['a.rahman@citylibrary.example'] },
      ];
      for (const card of cards) await InsertCard(lena, card);
      const page = await OpenCardList(lena);
      assert.equal((await CardNames(page)).length, cards.length);
      await page.screenshot({ path: path.join(kScreenshotDir, 'card-list.png'), fullPage: true });

      const phone = await SignedInContext(browser, service.origin, 'lena', 'lena-pass',
          { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
      try {
        const small = await OpenCardList(phone);
        // The narrow layout hides the organisation and e-mail columns and must
        // not make the page wider than the screen.
        assert.equal(await small.locator('th', { hasText: 'Organisation' }).isVisible(), false);
        const width = await small.evaluate(() => document.documentElement.scrollWidth);
        assert.ok(width <= 390, `the phone layout is ${width} pixels wide`);
        const table = await small.locator('.table-wrap').evaluate((wrap) => [wrap.scrollWidth, wrap.clientWidth]);
        assert.ok(table[0] <= table[1], `the card table needs sideways scrolling: ${table}`);
        await small.screenshot({ path: path.join(kScreenshotDir, 'card-list-phone.png'), fullPage: true });
      } finally {
        await phone.close();
      }
      AssertNoDialogs(lena);
    } finally {
      await lena.close();
    }
  });

  test('the service stops cleanly after the session and saves what was done', async () => {
    await browser.close();
    const outcome = await service.Stop();
    assert.deepEqual(outcome, { code: 0, signal: null }, service.output);
    assert.doesNotMatch(service.output, /Sanitizer|runtime error/, service.output);
    const base = fs.readFileSync(path.join(service.dir, 'pelorin', 'base.xml'), 'utf8');
    assert.match(base, /Port director/);
    assert.doesNotMatch(base, /Harbour master/);
    const users = fs.readFileSync(path.join(service.dir, 'user', 'user.xml'), 'utf8');
    assert.match(users, /<USER>dana<\/USER>/);
  });
});
