// CardDAV as a scripted client uses it: tsdav (pinned in package.json), signed
// in with Basic credentials, against the real service started from a copy of
// the built application directory. Its requests are watched through the fetch
// it is given, so a test can say which route tsdav took (the well-known name,
// an addressbook-query with an FN filter) and not only what came back. One
// service serves the whole file; the tests run in order and build on each
// other's cards.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { DAVClient } from 'tsdav';

import { StartService } from './service.mjs';

const kHere = path.dirname(fileURLToPath(import.meta.url));
// Set by CMake for ctest; by hand, the application directory of scripts/demo's build.
const kAppDir = process.env.PELORIN_APP_DIR ?? path.resolve(kHere, '../../build/app');
const kUser = 'admin';
const kBookPath = `/dav/addressbooks/${kUser}/contacts/`;
// sync-collection asks for ETags only, as a client that multigets afterwards does.
const kSyncProps = { 'd:getetag': {} };

function Card(uid, name, extra = '') {
  return `BEGIN:VCARD\r\nVERSION:3.0\r\nUID:${uid}\r\nFN:${name}\r\nN:${name};;;;\r\n${extra}END:VCARD\r\n`;
}

// The value of a property in a card's text, unfolded.
function PropertyOf(vcard, name) {
  const unfolded = vcard.replace(/\r?\n[ \t]/g, '');
  const match = unfolded.match(new RegExp(`^(?:[^:\\r\\n]*\\.)?${name}(?:;[^:\\r\\n]*)?:(.*)$`, 'mi'));
  return match ? match[1].replace(/\r$/, '') : undefined;
}

const PathOf = (url) => new URL(url).pathname;

let service;
let client;
let book;
const requests = [];  // every request tsdav made: method, path, body, status

// Records each request and its status, then hands back the real answer.
async function RecordingFetch(url, init = {}) {
  const answer = await fetch(url, init);
  requests.push({
    method: init.method ?? 'GET', path: PathOf(String(url)),
    body: typeof init.body === 'string' ? init.body : '', status: answer.status,
  });
  return answer;
}

// The requests made while `action` ran.
async function RequestsOf(action) {
  const first = requests.length;
  const result = await action();
  return { result, made: requests.slice(first) };
}

// The card hrefs a sync-collection answer names, each with whether it is gone
// (a 404 response of its own; a changed card comes with its propstat).
function SyncedHrefs(responses) {
  return responses.filter((r) => r.href).map((r) => ({ path: PathOf(new URL(r.href, service.origin).href),
                                                        gone: r.status === 404 }));
}

// The new token of a sync-collection answer (tsdav leaves it in the raw tree).
function SyncTokenOf(responses) {
  const token = responses[0]?.raw?.multistatus?.syncToken;
  return typeof token === 'object' ? token._text ?? token._cdata : token;
}

// The cards of the book whose FN contains `text`, by an addressbook-query.
async function PathsMatching(text) {
  const matched = await client.addressBookQuery({
    url: book.url, depth: '1', props: { 'd:getetag': {} },
    filters: { 'card:prop-filter': { _attributes: { name: 'FN' },
                                     'card:text-match': { _attributes: { 'match-type': 'contains' }, _text: text } } },
  });
  return matched.filter((r) => r.href).map((r) => PathOf(new URL(r.href, service.origin).href)).sort();
}

describe('CardDAV through tsdav', { timeout: 120000 }, () => {
  before(async () => {
    service = await StartService(kAppDir);
  });

  after(async () => {
    if (service?.running) await service.Stop();
    service?.Remove();
  });

  test('discovery: the well-known name leads to the principal and the address-book home', async () => {
    client = new DAVClient({
      serverUrl: service.origin, credentials: { username: kUser, password: 'admin' }, authMethod: 'Basic',
      defaultAccountType: 'carddav', fetch: RecordingFetch,
    });
    const { made } = await RequestsOf(() => client.login());
    assert.deepEqual([made[0].method, made[0].path, made[0].status], ['PROPFIND', '/.well-known/carddav', 301]);
    assert.ok(made.every((r) => r.status < 400), JSON.stringify(made));
    // tsdav falls back to the URL it was given when discovery fails, so the
    // principal and home must be the ones the redirect led to.
    assert.equal(PathOf(client.account.rootUrl), '/dav/');
    assert.equal(PathOf(client.account.principalUrl), `/dav/principals/${kUser}/`);
    assert.equal(PathOf(client.account.homeUrl), `/dav/addressbooks/${kUser}/`);
  });

  test('fetchAddressBooks finds the one book with its token and the reports it serves', async () => {
    const books = await client.fetchAddressBooks();
    assert.equal(books.length, 1);
    book = books[0];
    assert.equal(PathOf(book.url), kBookPath);
    assert.ok(book.resourcetype.includes('addressbook'));
    assert.ok(book.syncToken, 'the book has a sync-token');
    assert.ok(book.ctag, 'the book has a ctag');
    for (const report of ['addressbookMultiget', 'addressbookQuery', 'syncCollection']) {
      assert.ok(book.reports.includes(report), `${report} in ${book.reports}`);
    }
  });

  test('createVCard makes cards (201); a second create of the same name is refused (412)', async () => {
    for (const [uid, name] of [['ada', 'Ada Lovelace'], ['bob', 'Bob Ångström']]) {
      const answer = await client.createVCard({
        addressBook: book, filename: `${uid}.vcf`, vCardString: Card(uid, name, 'EMAIL;TYPE=INTERNET:x@example.org\r\n'),
      });
      assert.equal(answer.status, 201, `${uid}: ${await answer.text()}`);
      assert.match(answer.headers.get('etag') ?? '', /^"[^"]+"$/);
    }
    const again = await client.createVCard({ addressBook: book, filename: 'ada.vcf', vCardString: Card('ada', 'Other') });
    assert.equal(again.status, 412);
  });

  test('fetchVCards lists by an addressbook-query with an FN filter, then multigets', async () => {
    const { result: cards, made } = await RequestsOf(() => client.fetchVCards({ addressBook: book }));
    assert.deepEqual(made.map((r) => [r.method, r.path, r.status]),
                     [['REPORT', kBookPath, 207], ['REPORT', kBookPath, 207]]);
    assert.match(made[0].body, /addressbook-query/);
    assert.match(made[0].body, /prop-filter name="FN"/);
    assert.match(made[1].body, /addressbook-multiget/);
    const byPath = Object.fromEntries(cards.map((c) => [PathOf(c.url), c]));
    assert.deepEqual(Object.keys(byPath).sort(), [`${kBookPath}ada.vcf`, `${kBookPath}bob.vcf`]);
    assert.equal(PropertyOf(byPath[`${kBookPath}ada.vcf`].data, 'FN'), 'Ada Lovelace');
    assert.equal(PropertyOf(byPath[`${kBookPath}bob.vcf`].data, 'FN'), 'Bob Ångström');
    assert.equal(PropertyOf(byPath[`${kBookPath}bob.vcf`].data, 'EMAIL'), 'x@example.org');
    for (const card of cards) assert.match(card.etag, /^"[^"]+"$/);

    // A text-match narrows the query to the cards whose FN holds the text,
    // in any case.
    assert.deepEqual(await PathsMatching('LOVELACE'), [`${kBookPath}ada.vcf`]);
    assert.deepEqual(await PathsMatching('Ångström'), [`${kBookPath}bob.vcf`]);
  });

  // Without a collation named, text-match compares as i;unicode-casemap, so
  // case folds beyond ASCII too.
  test('a text-match folds the case of letters beyond ASCII', async () => {
    assert.deepEqual(await PathsMatching('ångström'), [`${kBookPath}bob.vcf`]);
  });

  test('syncCollection: the empty token lists every card, the returned token exactly the one change', async () => {
    const full = await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1, syncToken: '' });
    assert.deepEqual(SyncedHrefs(full).map((h) => h.path).sort(), [`${kBookPath}ada.vcf`, `${kBookPath}bob.vcf`]);
    const token = SyncTokenOf(full);
    assert.ok(token, 'a sync-token comes with the answer');

    // Nothing changed: the token gives nothing, and comes back the same.
    const none = await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1, syncToken: token });
    assert.deepEqual(SyncedHrefs(none), []);
    assert.equal(SyncTokenOf(none), token);

    const [ada] = await client.fetchVCards({ addressBook: book, objectUrls: [`${kBookPath}ada.vcf`] });
    const updated = await client.updateVCard({ vCard: { ...ada, data: Card('ada', 'Ada King') } });
    assert.equal(updated.status, 204);
    const delta = await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1, syncToken: token });
    assert.deepEqual(SyncedHrefs(delta), [{ path: `${kBookPath}ada.vcf`, gone: false }]);
    assert.notEqual(SyncTokenOf(delta), token);
    assert.equal(String(delta[0].props.getetag), updated.headers.get('etag'));
  });

  test('updateVCard with a stale ETag is refused with 412 and changes nothing', async () => {
    const [bob] = await client.fetchVCards({ addressBook: book, objectUrls: [`${kBookPath}bob.vcf`] });
    const stale = await client.updateVCard({ vCard: { ...bob, etag: '"0123456789abcdef"', data: Card('bob', 'Lost Edit') } });
    assert.equal(stale.status, 412);
    const [after_refusal] = await client.fetchVCards({ addressBook: book, objectUrls: [`${kBookPath}bob.vcf`] });
    assert.equal(after_refusal.etag, bob.etag);
    assert.equal(PropertyOf(after_refusal.data, 'FN'), 'Bob Ångström');
  });

  test('deleteVCard removes the card, and a sync from before lists it as gone', async () => {
    const before_delete = SyncTokenOf(await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1,
                                                                   syncToken: '' }));
    const [bob] = await client.fetchVCards({ addressBook: book, objectUrls: [`${kBookPath}bob.vcf`] });
    const deleted = await client.deleteVCard({ vCard: bob });
    assert.ok(deleted.ok, `DELETE answered ${deleted.status}`);
    const left = await client.fetchVCards({ addressBook: book });
    assert.deepEqual(left.map((c) => PathOf(c.url)), [`${kBookPath}ada.vcf`]);
    const delta = await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1,
                                                syncToken: before_delete });
    assert.deepEqual(SyncedHrefs(delta), [{ path: `${kBookPath}bob.vcf`, gone: true }]);
  });

  test('an unknown sync token gets the valid-sync-token error', async () => {
    const [answer] = await client.syncCollection({ url: book.url, props: kSyncProps, syncLevel: 1,
                                                   syncToken: 'urn:example:not-a-token-of-this-book' });
    assert.equal(answer.status, 403);
    assert.match(answer.raw, /<D:error xmlns:D="DAV:"><D:valid-sync-token\/><\/D:error>/);
  });
});
