// The import report with its undo, and the duplicates page with its merge,
// used as a person uses them: headless Chromium against the real service,
// choosing a file on the import page, reading the report, following its links
// and confirming. One service and one browser serve the whole file; each test
// works in accounts of its own, so that no test counts another's cards, except
// that the undo goes on in the account of the import before it.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Blocking, Describe, Findings } from './axe.mjs';
import { AddAccount, CardDetails, CardIdOf, CardNames, InsertCard } from './card_pages.mjs';
import { LaunchBrowser, SignedInContext } from './chromium.mjs';
import { StartService } from './service.mjs';

const kHere = path.dirname(fileURLToPath(import.meta.url));
// Set by CMake for ctest; by hand, the application directory of scripts/demo's build.
const kAppDir = process.env.PELORIN_APP_DIR ?? path.resolve(kHere, '../../build/app');

const Lines = (...lines) => Buffer.from(lines.map((line) => `${line}\r\n`).join(''), 'utf8');

// A record may hold no more than 10,000 elements, and each NOTE line is one:
// a card with one more is refused whole while the cards around it come in.
function CrowdedCard() {
  const notes = Array.from({ length: 10001 }, (_, i) => `NOTE:reminder ${i}`);
  return Lines('BEGIN:VCARD', 'VERSION:3.0', 'N:Overfull;Otto;;;', 'FN:Otto Overfull', ...notes, 'END:VCARD');
}

// A file as another address book saves it: five cards, the third past a
// bound, the fourth a vCard 2.1 card in ISO-8859-1 with quoted-printable
// names and an organisation in raw Latin-1 bytes, the others UTF-8 text.
// `names` are the list names of the cards that come in, in file order.
const kImport = {
  names: ['Brekke, Astrid', 'Nakamura, Kenji', 'Müller, Jürgen', 'Ødegaard, Live'],
  headings: ['Astrid Brekke', 'Kenji Nakamura', 'Jürgen Müller', 'Live Ødegaard'],
  file: () => Buffer.concat([
    Lines('BEGIN:VCARD', 'VERSION:3.0', 'N:Brekke;Astrid;;;', 'FN:Astrid Brekke', 'ORG:Fjellvind Bakeri',
        'TEL;TYPE=WORK,VOICE:+47 55 30 12 00', 'EMAIL;TYPE=INTERNET:astrid@fjellvind.example', 'END:VCARD'),
    Lines('BEGIN:VCARD', 'VERSION:3.0', 'N:Nakamura;Kenji;;;', 'FN:Kenji Nakamura',
        'TEL;TYPE=CELL:+81 90 1234 5678', 'END:VCARD'),
    CrowdedCard(),
    Buffer.from('BEGIN:VCARD\r\nVERSION:2.1\r\n' +
        'N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n' +
        'FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen M=FCller\r\n' +
        'ORG;CHARSET=ISO-8859-1:B\u00e4ckerei M\u00fcller\r\n' +
        'TEL;WORK;VOICE:+49 89 123 4567\r\nEND:VCARD\r\n', 'latin1'),
    Lines('BEGIN:VCARD', 'VERSION:3.0', 'N:Ødegaard;Live;;;', 'FN:Live Ødegaard',
        'EMAIL;TYPE=INTERNET:live@odegaard.example', 'END:VCARD'),
  ]),
};

// Two cards of one person (one e-mail address written in two cases, a phone
// each, a title on the first), and a card of someone else.
const kSelma = { fn: 'Selma Haugen', family: 'Haugen', given: 'Selma', org: 'Fjordlab', title: 'Head of research',
  tels: [['+47 22 12 34 56', 'WORK', 'VOICE']], emails: ['Selma.Haugen@Fjordlab.example'] };
const kSelmaAgain = { fn: 'Selma M. Haugen', tels: [['+47 915 55 123', 'CELL', 'VOICE']],
  emails: ['selma.haugen@fjordlab.example'] };
const kBjorn = { fn: 'Bjørn Aas', family: 'Aas', given: 'Bjørn', tels: [['+47 400 00 001', 'CELL', 'VOICE']],
  emails: ['bjorn@aas.example'] };

let service;
let browser;
let admin;
let file_dir;  // where the test writes the file it chooses on the import page
const users = {};  // login -> signed-in context

// An account of its own for one test, signed in.
async function NewUser(login, name) {
  const password = `${login}-Pass 3`;
  await AddAccount(admin, { login, password, name });
  users[login] = await SignedInContext(browser, service.origin, login, password);
  return users[login];
}

// The cells of each body row of a table, as text with blanks squeezed.
function TableRows(page, selector) {
  return page.locator(`${selector} tbody tr`).evaluateAll((rows) => rows.map((row) =>
    Array.from(row.cells).map((cell) => cell.innerText.replace(/\s+/g, ' ').trim())));
}

const Squeezed = async (locator) => (await locator.innerText()).replace(/\s+/g, ' ').trim();

// Chooses `file_path` on the import page as a person would and submits it;
// the page shown afterwards is the report.
async function ImportThroughThePage(page, file_path) {
  await page.goto('/pelorin/index.htm');
  await page.locator('.toolbar').getByRole('link', { name: 'Import', exact: true }).click();
  await page.waitForURL('**/pelorin/import.htm');
  await page.getByLabel('vCard file').setInputFiles(file_path);
  await page.getByRole('button', { name: 'Import' }).click();
  await page.waitForURL('**/pelorin/importedmsg.htm');
}

describe('The import report, its undo, duplicates and merge in Chromium', { timeout: 180000 }, () => {
  before(async () => {
    file_dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelorin-import-'));
    fs.writeFileSync(path.join(file_dir, 'address-book.vcf'), kImport.file());
    service = await StartService(kAppDir);
    browser = await LaunchBrowser();
    admin = await SignedInContext(browser, service.origin, 'admin', 'admin');
  });

  after(async () => {
    await browser?.close();
    if (service?.running) await service.Stop();
    service?.Remove();
    if (file_dir) fs.rmSync(file_dir, { recursive: true, force: true });
  });

  test('the import report counts the cards, lists the refused one and what was changed, and links the new cards',
      async () => {
        const ruth = await NewUser('ruth', 'Ruth Sandvik');
        await InsertCard(ruth, { fn: 'Hanne Vestergaard', family: 'Vestergaard', given: 'Hanne',
          tels: [['+45 33 12 34 56', 'WORK', 'VOICE']] });
        await InsertCard(ruth, { fn: 'Oskar Lind', family: 'Lind', given: 'Oskar', emails: ['oskar@lind.example'] });
        const page = await ruth.newPage();
        ruth.page = page;
        await ImportThroughThePage(page, path.join(file_dir, 'address-book.vcf'));

        assert.equal(await page.locator('h1').textContent(), 'Import finished');
        const report = page.locator('.import-report');
        assert.equal(await Squeezed(report.locator('p.notice')),
            '4 cards of 5 came in; 1 could not be taken (listed below).');
        assert.match(await Squeezed(report), /You now have 6 cards\./);
        assert.deepEqual(await TableRows(page, 'table.import-refused'),
            [['3', 'Otto Overfull', 'The record has more than 10000 elements.']]);
        // The notes of a card come in the order its lines raised them.
        const added = (await TableRows(page, 'table.import-added')).map(([number, name, notes]) =>
          [number, name, notes.split('; ').filter(Boolean).sort()]);
        assert.deepEqual(added, [
          ['1', kImport.names[0], []],
          ['2', kImport.names[1], []],
          ['4', kImport.names[2],
            ['quoted-printable text was decoded', 'text in the character set ISO-8859-1 was converted to UTF-8']],
          ['5', kImport.names[3], []],
        ]);

        // Each name links the card that came in; the converted one reads right.
        for (const [i, name] of kImport.names.entries()) {
          await page.locator('table.import-added td > a', { hasText: name }).click();
          await page.waitForURL(/\/pelorin\/card\.htm\?ID=\d+$/);
          assert.equal(await page.locator('h1').textContent(), kImport.headings[i]);
          if (name === 'Müller, Jürgen') {
            const details = await CardDetails(page);
            assert.ok(details.includes('Organisation: Bäckerei Müller'), details.join('\n'));
            assert.ok(details.includes('Family name: Müller'), details.join('\n'));
          }
          await page.goBack();
          await page.waitForURL('**/pelorin/importedmsg.htm');
        }
        await page.getByRole('link', { name: 'Show my cards' }).click();
        await page.waitForURL('**/pelorin/index.htm');
        assert.deepEqual((await CardNames(page)).sort(),
            [...kImport.names, 'Lind, Oskar', 'Vestergaard, Hanne'].sort());
        assert.deepEqual(ruth.dialogs, []);
      });

  test('undo from the report names the cards it removes and removes exactly those', async () => {
    const ruth = users.ruth;
    assert.ok(ruth, 'the import test did not run');
    const page = ruth.page;
    // After the import: one of its cards is deleted, another is edited, and a
    // card of the user's own is made. Undo removes the edited card too, and
    // leaves the new one.
    await page.goto('/pelorin/index.htm');
    const kenji = await CardIdOf(page, 'Nakamura, Kenji');
    await page.goto(`/pelorin/delete.htm?ID=${kenji}`);
    await page.getByRole('button', { name: 'Delete' }).click();
    await page.waitForURL('**/pelorin/index.htm');
    await page.goto(`/pelorin/edit.htm?ID=${await CardIdOf(page, 'Brekke, Astrid')}`);
    await page.fill('#title', 'Head baker');
    await page.getByRole('button', { name: 'Save' }).click();
    await page.waitForURL(/\/pelorin\/card\.htm\?ID=\d+$/);
    await InsertCard(ruth, { fn: 'Ines Duarte', family: 'Duarte', given: 'Ines', tels: [['+351 21 000 1234', 'CELL']] });

    await page.goto('/pelorin/importedmsg.htm');
    await page.getByRole('link', { name: 'Undo this import…' }).click();
    await page.waitForURL('**/pelorin/undoimport.htm');
    assert.equal(await page.locator('h1').textContent(), 'Undo import');
    const confirm = await Squeezed(page.locator('.confirm'));
    assert.match(confirm, /Undo removes the 3 cards this import added that you still have, changes made since included:/);
    assert.match(confirm, /1 of its cards you deleted since; they stay deleted\./);
    assert.deepEqual((await page.locator('ul.undo-list li').allTextContents()).sort(),
        ['Brekke, Astrid', 'Müller, Jürgen', 'Ødegaard, Live'].sort());

    await page.getByRole('button', { name: 'Undo import' }).click();
    await page.waitForURL('**/pelorin/importedmsg.htm');
    assert.equal(await Squeezed(page.locator('.import-report p.notice')),
        'This import was undone: the cards it added were removed.');
    assert.equal(await page.getByRole('link', { name: 'Undo this import…' }).count(), 0);
    await page.getByRole('link', { name: 'Show my cards' }).click();
    await page.waitForURL('**/pelorin/index.htm');
    assert.deepEqual(await CardNames(page), ['Duarte, Ines', 'Lind, Oskar', 'Vestergaard, Hanne']);

    // Nothing is left to undo, and the confirmation says so without a form.
    await page.goto('/pelorin/undoimport.htm');
    assert.match(await Squeezed(page.locator('.confirm')), /There is nothing to undo/);
    assert.equal(await page.locator('form').count(), 0);
    assert.deepEqual(ruth.dialogs, []);
  });

  test('two cards of one person are found as duplicates, and the merge keeps both phones in one card', async () => {
    const mira = await NewUser('mira', 'Mira Solberg');
    const tobias = await NewUser('tobias', 'Tobias Krag');
    for (const card of [kSelma, kSelmaAgain, kBjorn]) await InsertCard(mira, card);
    // Another account holds the very same card; it is never mira's duplicate.
    await InsertCard(tobias, kSelma);
    const own = await tobias.newPage();
    await own.goto('/pelorin/index.htm');
    const tobias_card = await CardIdOf(own, 'Haugen, Selma');

    const page = await mira.newPage();
    await page.goto('/pelorin/index.htm');
    const kept = await CardIdOf(page, 'Haugen, Selma');
    const other = await CardIdOf(page, 'Selma M. Haugen');
    await page.locator('.toolbar').getByRole('link', { name: 'Duplicates' }).click();
    await page.waitForURL('**/pelorin/duplicates.htm');
    assert.equal(await page.locator('h1').textContent(), 'Duplicates');
    assert.match(await Squeezed(page.locator('.duplicates > p').first()), /^1 group of cards looks alike\./);
    const group = page.locator('.duplicate-group');
    assert.equal(await group.count(), 1);
    assert.equal(await Squeezed(group.locator('.duplicate-why')), 'same e-mail: Selma.Haugen@Fjordlab.example');
    const links = await page.locator('.duplicates a[href^="card.htm"]').evaluateAll((as) =>
      as.map((a) => [a.textContent, new URL(a.href).searchParams.get('ID')]));
    assert.deepEqual(links, [['Haugen, Selma', kept], ['Selma M. Haugen', other]]);
    assert.equal(await page.locator(`a[href*="${tobias_card}"]`).count(), 0, 'another account\'s card is listed');

    await group.getByRole('link', { name: 'Merge into the first…' }).click();
    await page.waitForURL(`**/pelorin/mergecards.htm?ID=${kept}&OTHER=${other}`);
    assert.equal(await page.locator('h1').textContent(), 'Merge cards');
    assert.match(await Squeezed(page.locator('.confirm > p').first()),
        /The card of Selma M. Haugen is merged into the card of Haugen, Selma and then deleted\./);
    const preview = (await TableRows(page, 'table.merge-result')).map((cells) => cells.join(': '));
    const listed = preview.join('\n');
    assert.deepEqual(preview.filter((row) => row.startsWith('Phone: ')),
        ['Phone: +47 22 12 34 56, work, voice', 'Phone: +47 915 55 123, mobile, voice'], listed);
    assert.ok(preview.includes('Title: Head of research'), listed);
    assert.ok(preview.includes('Nickname: Selma M. Haugen'), listed);
    assert.ok(preview.includes('Formatted name: Selma Haugen'), listed);

    await page.getByRole('button', { name: 'Merge', exact: true }).click();
    await page.waitForURL(`**/pelorin/card.htm?ID=${kept}`);
    const details = await CardDetails(page);
    const shown = details.join('\n');
    assert.ok(details.includes('Phone: +47 22 12 34 56 work voice'), shown);
    assert.ok(details.includes('Phone: +47 915 55 123 mobile voice'), shown);
    assert.ok(details.includes('Title: Head of research'), shown);
    assert.ok(details.includes('Nickname: Selma M. Haugen'), shown);
    assert.ok(details.includes('Formatted name: Selma Haugen'), shown);

    await page.goto('/pelorin/index.htm');
    assert.deepEqual(await CardNames(page), ['Aas, Bjørn', 'Haugen, Selma']);
    await page.goto(`/pelorin/card.htm?ID=${other}`);
    assert.equal(await page.locator('h1').textContent(), 'Card not found');
    await page.goto('/pelorin/duplicates.htm');
    assert.match(await Squeezed(page.locator('.duplicates')), /No two of your cards share/);
    // The other account's card is untouched.
    await own.goto(`/pelorin/card.htm?ID=${tobias_card}`);
    assert.equal(await own.locator('h1').textContent(), 'Selma Haugen');
    assert.deepEqual(mira.dialogs, []);
    assert.deepEqual(tobias.dialogs, []);
    // The address both cards held, in two cases, is one address and shows once.
    const emails = details.filter((row) => row.startsWith('E-mail:'));
    assert.deepEqual(emails.map((row) => row.toLowerCase()), ['e-mail: selma.haugen@fjordlab.example internet'], shown);
  });

  for (const [width, options] of Object.entries({
    desktop: {},
    phone: { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true },
  })) {
    test(`axe-core finds nothing serious or critical on the report, undo, duplicates and merge pages at ${width} width`,
        async (t) => {
          const login = `axe${width}`;
          const password = `${login}-Pass 3`;
          await AddAccount(admin, { login, password, name: `Axel ${width}` });
          const context = await SignedInContext(browser, service.origin, login, password, options);
          try {
            const page = await context.newPage();
            await ImportThroughThePage(page, path.join(file_dir, 'address-book.vcf'));
            for (const card of [kSelma, kSelmaAgain]) await InsertCard(context, card);
            await page.goto('/pelorin/index.htm');
            const kept = await CardIdOf(page, 'Haugen, Selma');
            const other = await CardIdOf(page, 'Selma M. Haugen');
            // [name, path, an element that shows the page is in the state meant]
            const pages = [
              ['import report', '/pelorin/importedmsg.htm', 'table.import-refused'],
              ['undo confirmation', '/pelorin/undoimport.htm', 'ul.undo-list'],
              ['duplicates', '/pelorin/duplicates.htm', '.duplicate-group'],
              ['merge preview', `/pelorin/mergecards.htm?ID=${kept}&OTHER=${other}`, 'table.merge-result'],
            ];
            const blocking = [];
            for (const [name, target, marker] of pages) {
              assert.equal((await page.goto(target)).status(), 200, target);
              assert.ok(await page.locator(marker).count() > 0, `${name} does not show ${marker}`);
              const findings = await Findings(page);
              t.diagnostic(`${name}: ${findings.length ? `\n${Describe(findings)}` : 'no findings'}`);
              const serious = Blocking(findings);
              if (serious.length) blocking.push(`${name} (${target}):\n${Describe(serious)}`);
            }
            assert.deepEqual(blocking, [], `\n${blocking.join('\n\n')}`);
            assert.deepEqual(context.dialogs, []);
          } finally {
            await context.close();
          }
        });
  }
});
