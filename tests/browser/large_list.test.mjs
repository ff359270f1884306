// The card list of an account with 10,000 cards, imported through the import
// page, as a person uses it: paging, the page size, the letter index, the
// three sorts, a search paged the same way, photos and initials, long values,
// and the layout at a desktop and a phone width. The cards are made here, so
// the test knows the order every sort must give.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Blocking, Describe, Findings } from './axe.mjs';
import { AddAccount, CardDetails, CardNames, ImportVcards } from './card_pages.mjs';
import { LaunchBrowser, SignedInContext } from './chromium.mjs';
import { BlendPng } from './png.mjs';
import { StartService } from './service.mjs';

const kHere = path.dirname(fileURLToPath(import.meta.url));
const kAppDir = process.env.PELORIN_APP_DIR ?? path.resolve(kHere, '../../build/app');
// The pictures of the list at 10,000 cards; `npm run screenshots` writes them
// to docs/screenshots, where the README shows them.
const kScreenshotDir = process.env.PELORIN_SCREENSHOT_DIR ?? path.join(kHere, 'artifacts', 'screenshots');

const kCardCount = 10000;
const kDesktop = { viewport: { width: 1280, height: 900 } };
const kPhone = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true };

// 100 family names and 100 given names make 10,000 distinct names, so that no
// two cards tie in any sort. A few carry accents, which the sorts fold away.
const kFamilies = [
  'Abbott', 'Acosta', 'Ahlberg', 'Baker', 'Barros', 'Becker', 'Bergström', 'Blanco', 'Brennan', 'Castro',
  'Chen', 'Cohen', 'Costa', 'Dahl', 'Delgado', 'Díaz', 'Dubois', 'Eklund', 'Engel', 'Estrada',
  'Farrell', 'Fischer', 'Fontaine', 'Fuentes', 'García', 'Gallagher', 'Gómez', 'Grant', 'Haas', 'Hansen',
  'Hartmann', 'Herrera', 'Holm', 'Ibarra', 'Ingram', 'Iversen', 'Jäger', 'Jensen', 'Jiménez', 'Kaur',
  'Keller', 'Kim', 'Kowalski', 'Krüger', 'Lambert', 'Larsen', 'Lefèvre', 'Lindholm', 'López', 'Marsh',
  'Martín', 'Meyer', 'Molina', 'Müller', 'Nakamura', 'Navarro', 'Nielsen', 'Novak', 'Núñez', "O'Brien",
  'Olsen', 'Ortega', 'Park', 'Patel', 'Pereira', 'Petersen', 'Quinn', 'Quiroga', 'Ramos', 'Reyes',
  'Richter', 'Rossi', 'Sánchez', 'Schmidt', 'Schröder', 'Silva', 'Sørlie', 'Tanaka', 'Thompson', 'Torres',
  'Ueda', 'Ulrich', 'Valdez', 'Vargas', 'Vogel', 'Wagner', 'Walsh', 'Weber', 'Wong', 'Xavier',
  'Xu', 'Yamamoto', 'Yilmaz', 'Young', 'Zamora', 'Zhang', 'Ziegler', 'Zimmermann', 'Zúñiga', 'Åberg',
];
const kGivens = [
  'Aaron', 'Ada', 'Agnes', 'Alba', 'Amir', 'Ana', 'Anders', 'Anouk', 'Ari', 'Astrid',
  'Ben', 'Bianca', 'Björn', 'Bruno', 'Camille', 'Carlos', 'Chloé', 'Clara', 'Daniel', 'Dora',
  'Eamon', 'Elena', 'Élise', 'Emil', 'Erik', 'Eva', 'Farah', 'Felix', 'Freya', 'Gabriel',
  'Greta', 'Hana', 'Hugo', 'Ida', 'Ines', 'Isak', 'Jan', 'Jonas', 'José', 'Julia',
  'Kai', 'Karin', 'Lars', 'Lea', 'Leon', 'Lina', 'Luca', 'Maja', 'Marco', 'Mei',
  'Mila', 'Nadia', 'Nils', 'Noah', 'Nora', 'Olav', 'Olga', 'Omar', 'Paula', 'Pedro',
  'Priya', 'Rafael', 'Rania', 'Rosa', 'Rui', 'Sara', 'Selma', 'Sven', 'Tariq', 'Theo',
  'Tomás', 'Ulla', 'Uma', 'Vera', 'Victor', 'Vivian', 'Wanda', 'Wei', 'Xenia', 'Yara',
  'Yusuf', 'Zara', 'Zoë', 'Åsa', 'Irene', 'Jakob', 'Kenji', 'Laila', 'Magnus', 'Nina',
  'Oskar', 'Pia', 'Quentin', 'Ruth', 'Stefan', 'Tove', 'Ursula', 'Valter', 'Wilma', 'Yann',
];
const kOrganisations = [
  'Northwind Logistics', 'Harbour Dental Clinic', 'Blue Fjord Software', 'City Library', 'Meridian Architects',
  'Old Mill Bakery', 'Quayside Insurance', 'Riverside School', 'Summit Engineering', 'Atelier Lumière',
  'Greenleaf Plumbing', 'Keystone Legal', 'Larkspur Florists', 'Oakridge Veterinary', 'Pinecrest Hotel',
  'Silverline Taxis', 'Tidewater Shipping', 'Union Credit Bank', 'Vantage Opticians', 'Willow Care Home',
];
// The one card whose values are longer than any column: the list cuts them,
// the card page shows them whole.
const kLong = {
  family: 'Wolkenstein-Trostburg-Rodenegg', given: 'Maximiliane',
  org: 'International Association of Lighthouse Keepers and Coastal Navigation Historians',
  title: 'Senior archivist for the northern coastal records and lighthouse logbooks',
  email: 'maximiliane.wolkenstein-trostburg@lighthouse-keepers-association.example.org',
  tel: '+43 512 555 0199 123 456 789',
};

// Sort keys as the service folds them: lower case, accents of Latin-1 letters
// away. "ø" has no decomposition, so it is mapped by hand.
const Fold = (text) => text.normalize('NFD').replace(/[\u0300-\u036f]/g, '').replace(/ø/gi, 'o').toLowerCase();

function MakeCards() {
  const photos = [
    [[14, 116, 144], [190, 242, 100]], [[124, 58, 237], [251, 207, 232]], [[194, 65, 12], [253, 230, 138]],
    [[21, 128, 61], [187, 247, 208]], [[30, 64, 175], [165, 243, 252]], [[159, 18, 57], [254, 205, 211]],
  ].map(([from, to]) => BlendPng(48, from, to).toString('base64'));
  const cards = [];
  for (let i = 0; i < kCardCount; ++i) {
    // Family names run through the file in a scrambled order, so that the
    // list's order is the sort's doing and not the file's.
    const family = kFamilies[(i * 37) % 100];
    const given = kGivens[(Math.floor(i / 100) + i * 3) % 100];
    const card = { family, given, org: i % 4 === 3 ? '' : kOrganisations[Math.floor(i / 4) % kOrganisations.length],
      title: i % 9 === 0 ? 'Account manager' : '', tel: `+${30 + (i % 60)} ${100 + (i % 900)} ${String(1000000 + i * 7919 % 9000000)}`,
      email: `${Fold(given)}.${Fold(family).replace(/[^a-z]/g, '')}${i}@example.org`,
      photo: (i * 13 + Math.floor(i / 100)) % 5 === 0 ? photos[i % photos.length] : '' };
    cards.push(card);
  }
  Object.assign(cards[4321], kLong, { photo: '' });
  return cards;
}

function VcardText(cards) {
  const fold75 = (line) => line.replace(/(.{75})(?=.)/g, '$1\r\n ');
  return cards.map((card) => ['BEGIN:VCARD', 'VERSION:3.0', `N:${card.family};${card.given};;;`,
    `FN:${card.given} ${card.family}`, card.org && `ORG:${card.org}`, card.title && `TITLE:${card.title}`,
    `TEL;TYPE=WORK,VOICE:${card.tel}`, `EMAIL;TYPE=INTERNET:${card.email}`,
    card.photo && fold75(`PHOTO;ENCODING=b;TYPE=PNG:${card.photo}`), 'END:VCARD']
      .filter(Boolean).join('\r\n') + '\r\n').join('');
}

// The name the list shows for a card, and its key in each sort.
const Listed = (card) => `${card.family}, ${card.given}`;
const kSortKeys = {
  family: (card) => Fold(`${card.family}\n${card.given}`),
  given: (card) => Fold(`${card.given}\n${card.family}`),
  org: (card) => (card.org ? `${Fold(card.org)}\n` : '\x7f') + Fold(`${card.family}\n${card.given}`),
};
function SortedNames(cards, sort) {
  const keyed = cards.map((card) => [kSortKeys[sort](card), Listed(card)]);
  keyed.sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
  return keyed.map(([, name]) => name);
}

const CountText = async (page) => (await page.locator('p.count').textContent()).replace(/\s+/g, ' ').trim();

let service;
let browser;
let cards;
let desktop;  // vera's context at 1280 × 900
let phone;    // vera's context at 390 × 844

describe('The card list at 10,000 cards in Chromium', { timeout: 600000 }, () => {
  before(async () => {
    fs.mkdirSync(kScreenshotDir, { recursive: true });
    service = await StartService(kAppDir);
    browser = await LaunchBrowser();
    const admin = await SignedInContext(browser, service.origin, 'admin', 'admin');
    await AddAccount(admin, { login: 'vera', password: 'vera-pass', name: 'Vera Lindqvist' });
    await admin.close();
    desktop = await SignedInContext(browser, service.origin, 'vera', 'vera-pass', kDesktop);
    phone = await SignedInContext(browser, service.origin, 'vera', 'vera-pass', kPhone);
    cards = MakeCards();
    await ImportVcards(desktop, VcardText(cards));
    desktop.page = await desktop.newPage();
    phone.page = await phone.newPage();
  });

  after(async () => {
    await browser?.close();
    if (service?.running) await service.Stop();
    service?.Remove();
  });

  test('previous and next walk the pages, and the page size select changes how many show', async () => {
    const page = desktop.page;
    const family = SortedNames(cards, 'family');
    await page.goto('/pelorin/index.htm');
    assert.equal(await CountText(page), 'Cards 1–100 of 10,000');
    assert.equal(await page.locator('.page-of').textContent(), 'Page 1 of 100');
    assert.deepEqual(await CardNames(page), family.slice(0, 100));
    assert.equal(await page.locator('.pages span.disabled', { hasText: 'Previous' }).count(), 1);

    await page.getByRole('link', { name: 'Next ›' }).click();
    await page.waitForURL(/page=2/);
    assert.equal(await CountText(page), 'Cards 101–200 of 10,000');
    assert.deepEqual(await CardNames(page), family.slice(100, 200));
    await page.getByRole('link', { name: 'Next ›' }).click();
    await page.waitForURL(/page=3/);
    await page.getByRole('link', { name: '‹ Previous' }).click();
    await page.waitForURL(/page=2/);
    assert.deepEqual(await CardNames(page), family.slice(100, 200));

    // A new page size starts again at the first page.
    await page.selectOption('#page-size', '25');
    await page.getByRole('button', { name: 'Show' }).click();
    await page.waitForURL(/size=25/);
    assert.equal(await page.locator('.page-of').textContent(), 'Page 1 of 400');
    assert.deepEqual(await CardNames(page), family.slice(0, 25));
    assert.equal(await page.locator('#page-size').inputValue(), '25');
    // The last page: Next is no link, the range ends at the last card.
    await page.goto('/pelorin/index.htm?sort=family&size=25&page=400');
    assert.equal(await CountText(page), 'Cards 9,976–10,000 of 10,000');
    assert.equal(await page.locator('.pages span.disabled', { hasText: 'Next' }).count(), 1);
    assert.deepEqual(await CardNames(page), family.slice(9975));
  });

  test('each sort orders all 10,000 cards, page after page', async () => {
    const page = desktop.page;
    await page.goto('/pelorin/index.htm?size=500');
    for (const [sort, label] of [['given', 'Given name'], ['org', 'Organisation'], ['family', 'Family name']]) {
      await page.locator('nav.sorts').getByRole('link', { name: label }).click();
      await page.waitForURL(new RegExp(`sort=${sort}`));
      assert.equal(await page.locator('nav.sorts strong[aria-current]').textContent(), label);
      const expected = SortedNames(cards, sort);
      // The first, a middle and the last page of the sort.
      for (const number of [1, 11, 20]) {
        if (number > 1) await page.goto(`/pelorin/index.htm?sort=${sort}&size=500&page=${number}`);
        assert.deepEqual(await CardNames(page), expected.slice((number - 1) * 500, number * 500), `${sort}, page ${number}`);
      }
      await page.goto(`/pelorin/index.htm?sort=${sort}&size=500`);
    }
  });

  test('a letter of the index opens the page of the first card with that letter', async () => {
    const page = desktop.page;
    for (const sort of ['family', 'given']) {
      const expected = SortedNames(cards, sort);
      await page.goto(`/pelorin/index.htm?sort=${sort}&size=100`);
      const letters = await page.locator('nav.letters a').allTextContents();
      const initial = (name) => Fold(sort === 'family' ? name : name.split(', ')[1])[0].toUpperCase();
      assert.deepEqual(letters, [...new Set(expected.map(initial))], sort);
      for (const letter of ['M', 'X', 'Z']) {
        await page.locator('nav.letters').getByRole('link', { name: letter, exact: true }).click();
        const first = expected.findIndex((name) => initial(name) === letter);
        const number = Math.floor(first / 100) + 1;
        await page.waitForURL(new RegExp(`sort=${sort}&size=100&page=${number}$`));
        assert.deepEqual(await CardNames(page), expected.slice((number - 1) * 100, number * 100));
        // The index marks the letters that start on this page, the one chosen among them.
        assert.equal(await page.locator('nav.letters a', { hasText: new RegExp(`^${letter}$`) })
            .getAttribute('class'), 'here', `${sort} ${letter}`);
        assert.ok((await CardNames(page)).includes(expected[first]), `${sort} ${letter}`);
      }
    }
  });

  test('a search is paged and sorted like the whole list, and its links keep the search', async () => {
    const page = desktop.page;
    const matching = cards.filter((card) => card.org === 'Harbour Dental Clinic');
    const expected = SortedNames(matching, 'given');
    assert.ok(matching.length > 200, 'the test data changed');
    await page.goto('/pelorin/index.htm?sort=given&size=100');
    await page.fill('#search-q', 'harbour dental');
    await page.getByRole('button', { name: 'Search' }).click();
    await page.waitForURL(/q=harbour/);
    const total = matching.length.toLocaleString('en-US');
    assert.equal(await CountText(page), `Cards 1–100 of ${total} found among 10,000`);
    assert.deepEqual(await CardNames(page), expected.slice(0, 100));
    await page.getByRole('link', { name: 'Next ›' }).click();
    await page.waitForURL(/page=2/);
    assert.match(page.url(), /q=harbour%20dental/);
    assert.deepEqual(await CardNames(page), expected.slice(100, 200));
    assert.equal(await page.locator('#search-q').inputValue(), 'harbour dental');
    // Another page size keeps the search and the sort.
    await page.selectOption('#page-size', '50');
    await page.getByRole('button', { name: 'Show' }).click();
    await page.waitForURL(/size=50/);
    assert.deepEqual(await CardNames(page), expected.slice(0, 50));
    assert.equal(await CountText(page), `Cards 1–50 of ${total} found among 10,000`);
  });

  test('the list shows each photo as a small picture and initials for cards without one', async (t) => {
    const page = desktop.page;
    const answer = await page.goto('/pelorin/index.htm?sort=family&size=100');
    // 100 rows of markup stay small; the photos come separately, as pictures.
    const bytes = (await answer.body()).length;
    assert.ok(bytes < 200 * 1024, `the page of 100 cards is ${bytes} bytes`);
    t.diagnostic(`the page of 100 cards is ${bytes} bytes`);
    const family = SortedNames(cards, 'family').slice(0, 100);
    const with_photo = new Set(cards.filter((card) => card.photo).map(Listed));
    const rows = await page.locator('table.cards tbody tr').evaluateAll((trs) => trs.map((tr) => {
      const img = tr.querySelector('td.name img.avatar');
      const initials = tr.querySelector('td.name .initials');
      return { name: tr.querySelector('td.name > a').textContent, img: img && img.getAttribute('src'),
        alt: img && img.getAttribute('alt'), lazy: img && img.getAttribute('loading'),
        initials: initials && getComputedStyle(initials, '::before').content };
    }));
    assert.deepEqual(rows.map((row) => row.name), family);
    for (const row of rows) {
      if (with_photo.has(row.name)) {
        assert.match(row.img ?? '', /^photo\?ID=\d+$/, row.name);
        assert.equal(row.alt, '', row.name);
        assert.equal(row.lazy, 'lazy', row.name);
      } else {
        assert.equal(row.img, null, row.name);
        const [surname, forename] = row.name.split(', ');
        assert.equal(row.initials, `"${forename[0]}${surname[0]}"`, row.name);
      }
    }
    // The pictures in view load and are drawn 32 pixels square.
    const first = page.locator('table.cards img.avatar').first();
    await first.scrollIntoViewIfNeeded();
    await page.waitForFunction((img) => img.complete && img.naturalWidth > 0, await first.elementHandle());
    assert.deepEqual(await first.evaluate((img) => [img.naturalWidth, img.getBoundingClientRect().width,
      img.getBoundingClientRect().height, getComputedStyle(img).objectFit]), [48, 32, 32, 'cover']);
  });

  test('long values are cut with an ellipsis in the list and shown whole on the card page', async () => {
    const page = desktop.page;
    await page.goto('/pelorin/index.htm?q=wolkenstein');
    const row = page.locator('table.cards tbody tr');
    assert.equal(await row.count(), 1);
    for (const selector of ['td.col-org .cut', 'td.col-mail .cut']) {
      const cut = await row.locator(selector).evaluate((element) => ({
        overflow: getComputedStyle(element).textOverflow, cut: element.scrollWidth > element.clientWidth }));
      assert.deepEqual(cut, { overflow: 'ellipsis', cut: true }, selector);
    }
    assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= document.documentElement.clientWidth),
        true);
    await row.locator('td.name > a').click();
    await page.waitForURL(/card\.htm/);
    const details = await CardDetails(page);
    for (const line of [`Organisation: ${kLong.org}`, `Title: ${kLong.title}`, `E-mail: ${kLong.email} internet`,
      `Family name: ${kLong.family}`]) {
      assert.ok(details.includes(line), `${line}\n${details.join('\n')}`);
    }
    // Whole, and still without sideways scrolling, at both widths.
    for (const context of [desktop, phone]) {
      await context.page.goto(page.url());
      assert.ok(await context.page.getByText(kLong.email).isVisible());
      const [scroll, client] = await context.page.evaluate(() =>
        [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
      assert.ok(scroll <= client, `the card page is ${scroll} pixels wide in ${client}`);
    }
  });

  test('no page of the list scrolls sideways at 1280 or at 390 pixels', async () => {
    const targets = ['/pelorin/index.htm', '/pelorin/index.htm?sort=org&size=500&page=20',
      '/pelorin/index.htm?q=wolkenstein', '/pelorin/index.htm?sort=given&q=example.org&page=37'];
    for (const context of [desktop, phone]) {
      for (const target of targets) {
        await context.page.goto(target);
        const [scroll, client] = await context.page.evaluate(() =>
          [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
        const width = context.page.viewportSize().width;
        assert.ok(scroll <= client, `${target} at ${width}: ${scroll} pixels wide in ${client}`);
      }
    }
  });

  test('on a phone every row of the list takes one or two lines', async () => {
    const page = phone.page;
    for (const target of ['/pelorin/index.htm?size=500', '/pelorin/index.htm?q=wolkenstein']) {
      await page.goto(target);
      const rows = await page.locator('table.cards tbody tr').evaluateAll((trs) => trs.map((tr) => {
        const cell = tr.querySelector('td.name');
        const style = getComputedStyle(cell);
        const padding = parseFloat(style.paddingTop) + parseFloat(style.paddingBottom);
        return { name: cell.querySelector('a').textContent, height: tr.getBoundingClientRect().height,
          lines: (cell.getBoundingClientRect().height - padding) / parseFloat(style.lineHeight) };
      }));
      assert.ok(rows.length > 0, target);
      const tall = rows.filter((row) => row.lines > 2.1);
      assert.deepEqual(tall, [], `${target}: rows of more than two lines`);
    }
  });

  test('axe-core finds nothing serious or critical in the list of 10,000 at either width', async () => {
    for (const context of [desktop, phone]) {
      for (const target of ['/pelorin/index.htm', '/pelorin/index.htm?q=harbour&page=2']) {
        await context.page.goto(target);
        const serious = Blocking(await Findings(context.page));
        assert.deepEqual(serious, [], `${target}:\n${Describe(serious)}`);
      }
    }
  });

  test('screenshots of the list at 10,000 cards on a desktop and on a phone', async () => {
    for (const [context, name] of [[desktop, 'card-list-10000.png'], [phone, 'card-list-10000-phone.png']]) {
      const page = context.page;
      await page.goto('/pelorin/index.htm?page=12');
      // The pictures in view are loaded before the picture is taken.
      await page.waitForFunction(() => Array.from(document.querySelectorAll('img.avatar'))
          .filter((img) => img.getBoundingClientRect().top < innerHeight).every((img) => img.complete));
      await page.screenshot({ path: path.join(kScreenshotDir, name) });
      assert.ok(fs.statSync(path.join(kScreenshotDir, name)).size > 10000, name);
    }
    assert.deepEqual(desktop.dialogs, []);
    assert.deepEqual(phone.dialogs, []);
  });
});
