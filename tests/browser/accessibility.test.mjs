// Every page of the service checked by axe-core at a desktop and a phone width,
// and the card list, a card and its form used with the keyboard alone. One
// service and one browser serve the file; the accounts and cards are made
// before the tests and only the keyboard test changes a card.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Blocking, Describe, Findings } from './axe.mjs';
import { AddAccount, CardDetails, CardIdOf, ImportVcards, InsertCard } from './card_pages.mjs';
import { LaunchBrowser, SignedInContext } from './chromium.mjs';
import { BlendPng } from './png.mjs';
import { StartService } from './service.mjs';

const kHere = path.dirname(fileURLToPath(import.meta.url));
const kAppDir = process.env.PELORIN_APP_DIR ?? path.resolve(kHere, '../../build/app');

const kViewports = {
  desktop: { viewport: { width: 1280, height: 900 } },
  phone: { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true },
};

const kFamilies = ['Adler', 'Berg', 'Castillo', 'Dahl', 'Eriksen', 'Fournier', 'García', 'Hoffmann', 'Ibsen',
  'Jansen', 'Kowalski', 'Lund', 'Moreau', 'Nakamura', 'Olsen', 'Petrov', 'Quist', 'Rossi', 'Schmidt', 'Tanaka'];
const kGivens = ['Anna', 'Bruno', 'Chiara'];

// 60 cards in three pages of 25 (so that the pager and the letter index show),
// as a file of vCard 3.0 text.
function SixtyCards() {
  let text = '';
  for (const family of kFamilies) {
    for (const given of kGivens) {
      text += `BEGIN:VCARD\r\nVERSION:3.0\r\nN:${family};${given};;;\r\nFN:${given} ${family}\r\n` +
          `ORG:${family} & Partners\r\nTEL;TYPE=WORK,VOICE:+49 30 ${1000 + text.length % 9000}\r\n` +
          `EMAIL;TYPE=INTERNET:${given.toLowerCase()}.${family.toLowerCase()}@example.org\r\nEND:VCARD\r\n`;
    }
  }
  return text;
}

let service;
let browser;
let admin;
let nora;  // an account with cards
let emil;  // an account without any
const ids = {};

describe('Accessibility in Chromium', { timeout: 300000 }, () => {
  before(async () => {
    service = await StartService(kAppDir);
    browser = await LaunchBrowser();
    admin = await SignedInContext(browser, service.origin, 'admin', 'admin');
    await AddAccount(admin, { login: 'nora', password: 'nora-pass', name: 'Nora Lindahl' });
    await AddAccount(admin, { login: 'emil', password: 'emil-pass', name: 'Emil Brandt' });
    nora = await SignedInContext(browser, service.origin, 'nora', 'nora-pass');
    emil = await SignedInContext(browser, service.origin, 'emil', 'emil-pass');
    assert.match(await ImportVcards(nora, SixtyCards()), /importedmsg\.htm$/);
    const photo = BlendPng(64, [14, 116, 144], [190, 242, 100]).toString('base64');
    const posted = await nora.request.post('/pelorin/index.htm', {
      form: { Command: 'insert', Redirect: 'index.htm',
        XML: '<vCard><N><FAMILY>Aalto</FAMILY><GIVEN>Pia</GIVEN></N><FN>Pia Aalto</FN>' +
            '<TEL><NUMBER>+358 9 123 4567</NUMBER><CELL/><VOICE/></TEL>' +
            `<PHOTO><TYPE>image/png</TYPE><BINVAL>${photo}</BINVAL></PHOTO></vCard>` },
      maxRedirects: 0 });
    assert.equal(posted.status(), 302);
    await InsertCard(nora, { fn: 'Yusuf Demir', family: 'Demir', given: 'Yusuf', org: 'Anatolia Textiles',
      title: 'Buyer', tels: [['+90 212 555 0100', 'WORK', 'VOICE']], emails: ['yusuf@anatolia.example'] });
    const page = await nora.newPage();
    await page.goto('/pelorin/index.htm?q=Aalto');
    ids.photo = await CardIdOf(page, 'Aalto, Pia');
    await page.goto('/pelorin/index.htm?q=Demir');
    ids.plain = await CardIdOf(page, 'Demir, Yusuf');
    await page.close();
    assert.ok(ids.photo && ids.plain, JSON.stringify(ids));
  });

  after(async () => {
    await browser?.close();
    if (service?.running) await service.Stop();
    service?.Remove();
  });

  // [name, account, path]: every page a person can reach, in each state it has.
  const Pages = () => [
    ['card list, empty', 'emil', '/pelorin/index.htm'],
    ['card list, first of three pages', 'nora', '/pelorin/index.htm?size=25'],
    ['card list, middle page by given name', 'nora', '/pelorin/index.htm?sort=given&size=25&page=2'],
    ['search results', 'nora', '/pelorin/index.htm?q=partners&size=25&page=2'],
    ['search without a match', 'nora', '/pelorin/index.htm?q=nobody%20here'],
    ['card page', 'nora', `/pelorin/card.htm?ID=${ids.plain}`],
    ['card page with a photo', 'nora', `/pelorin/card.htm?ID=${ids.photo}`],
    ['card not found', 'nora', '/pelorin/card.htm?ID=999999'],
    ['new card form', 'nora', '/pelorin/new.htm'],
    ['edit form', 'nora', `/pelorin/edit.htm?ID=${ids.plain}`],
    ['edit form of a card with a photo', 'nora', `/pelorin/edit.htm?ID=${ids.photo}`],
    ['delete form', 'nora', `/pelorin/delete.htm?ID=${ids.plain}`],
    ['import page', 'nora', '/pelorin/import.htm'],
    ['import message page', 'nora', '/pelorin/importedmsg.htm'],
    ['users list', 'admin', '/user/index.htm'],
    ['new user form', 'admin', '/user/new.htm'],
    ['edit user form', 'admin', '/user/edit.htm?LOGIN=nora'],
    ['delete user form', 'admin', '/user/delete.htm?LOGIN=nora'],
    ['configuration page', 'admin', '/config/index.htm'],
  ];
  const kPasswords = { admin: 'admin', nora: 'nora-pass', emil: 'emil-pass' };

  for (const [width, options] of Object.entries(kViewports)) {
    test(`axe-core finds nothing serious or critical on any page at ${width} width`, async (t) => {
      const contexts = {};
      const blocking = [];
      try {
        for (const [name, user, target] of Pages()) {
          contexts[user] ??= await SignedInContext(browser, service.origin, user, kPasswords[user], options);
          contexts[user].page ??= await contexts[user].newPage();
          const page = contexts[user].page;
          const answer = await page.goto(target);
          assert.equal(answer.status(), 200, `${name}: ${target}`);
          const findings = await Findings(page);
          t.diagnostic(`${name}: ${findings.length ? `\n${Describe(findings)}` : 'no findings'}`);
          const serious = Blocking(findings);
          if (serious.length) blocking.push(`${name} (${target}):\n${Describe(serious)}`);
        }
        assert.deepEqual(blocking, [], `\n${blocking.join('\n\n')}`);
      } finally {
        for (const context of Object.values(contexts)) await context.close();
      }
    });
  }

  // Presses Tab until the focused element satisfies `wanted` (a function run in
  // the page on document.activeElement), checking on the way that every
  // element that takes the focus shows it. Fails after `limit` presses.
  async function TabTo(page, wanted, limit = 120) {
    for (let presses = 0; presses < limit; ++presses) {
      await page.keyboard.press('Tab');
      const focused = await page.evaluate(() => {
        const element = document.activeElement;
        const style = getComputedStyle(element);
        return {
          what: `${element.tagName.toLowerCase()}${element.id ? `#${element.id}` : ''} "${
            (element.innerText || element.value || '').trim().slice(0, 40)}"`,
          outline: style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2,
          ring: style.boxShadow !== 'none',
        };
      });
      assert.ok(focused.outline || focused.ring, `the focus on ${focused.what} cannot be seen`);
      if (await page.evaluate(`(${wanted})(document.activeElement)`)) return focused.what;
    }
    throw new Error(`Tab never reached the element after ${limit} presses`);
  }

  test('with the keyboard alone a card is found in the list, opened, edited and saved', async () => {
    const page = await nora.newPage();
    try {
      await page.goto('/pelorin/index.htm?size=25');
      // The first stop skips the top bar to the content.
      await page.keyboard.press('Tab');
      assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Skip to the content');
      await page.keyboard.press('Enter');
      assert.match(page.url(), /#content$/);
      // From the content on, Tab reaches the search box before any card.
      await TabTo(page, (element) => element.id === 'search-q', 3);
      await TabTo(page, (element) => element.closest('td.name') && element.textContent === 'Berg, Bruno');
      await page.keyboard.press('Enter');
      await page.waitForURL(/\/pelorin\/card\.htm\?ID=\d+$/);
      assert.equal(await page.locator('h1').textContent(), 'Bruno Berg');
      const id = new URL(page.url()).searchParams.get('ID');

      await TabTo(page, (element) => element.tagName === 'A' && element.textContent === 'Edit');
      await page.keyboard.press('Enter');
      await page.waitForURL(`**/pelorin/edit.htm?ID=${id}`);
      await TabTo(page, (element) => element.id === 'title');
      await page.keyboard.type('Head of purchasing');
      // Space checks the box of a phone type, as a click would.
      await TabTo(page, (element) => element.classList.contains('tel-type') && element.value === 'PREF');
      await page.keyboard.press('Space');
      await TabTo(page, (element) => element.tagName === 'BUTTON' && element.textContent === 'Save');
      await page.keyboard.press('Enter');
      await page.waitForURL(`**/pelorin/card.htm?ID=${id}`);
      const details = await CardDetails(page);
      assert.ok(details.includes('Title: Head of purchasing'), details.join('\n'));
      assert.ok(details.some((row) => /^Phone: .* preferred/.test(row)), details.join('\n'));
      assert.deepEqual(nora.dialogs, []);
    } finally {
      await page.close();
    }
  });
});
