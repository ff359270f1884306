// What the browser tests read off the pages and the few requests they make
// without a page (setting up accounts and cards that a test is not about).
// Every function takes a signed-in browser context or one of its pages.

// The form of the record commands: a post to a page of the area whose store it
// changes. Redirects are not followed, so the answer shows the command's outcome.
async function PostRecord(context, page_path, fields) {
  const answer = await context.request.post(page_path, { form: fields, maxRedirects: 0 });
  if (answer.status() !== 302) {
    throw new Error(`${fields.Command} on ${page_path} answered ${answer.status()}: ${await answer.text()}`);
  }
}

const EscapeXml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

// An account as the users page writes it.
export function AddAccount(admin_context, { login, password, name, admin = false }) {
  const xml = `<User><USER>${EscapeXml(login)}</USER><PASSWORD>${EscapeXml(password)}</PASSWORD>` +
      `<NAME>${EscapeXml(name)}</NAME>${admin ? '<ADMIN/>' : ''}</User>`;
  return PostRecord(admin_context, '/user/index.htm', { Command: 'insert', XML: xml, Redirect: 'index.htm' });
}

// A card in the shape the card form writes. `card` has fn, family, given, org,
// title, tels ([number, ...markers]), emails and city, all optional but fn.
export function InsertCard(context, card) {
  let xml = '<vCard>';
  if (card.family || card.given) {
    xml += '<N>' + (card.family ? `<FAMILY>${EscapeXml(card.family)}</FAMILY>` : '') +
        (card.given ? `<GIVEN>${EscapeXml(card.given)}</GIVEN>` : '') + '</N>';
  }
  xml += `<FN>${EscapeXml(card.fn)}</FN>`;
  if (card.org) xml += `<ORG><ORGNAME>${EscapeXml(card.org)}</ORGNAME></ORG>`;
  if (card.title) xml += `<TITLE>${EscapeXml(card.title)}</TITLE>`;
  for (const [number, ...markers] of card.tels ?? []) {
    xml += `<TEL><NUMBER>${EscapeXml(number)}</NUMBER>${markers.map((m) => `<${m}/>`).join('')}</TEL>`;
  }
  for (const address of card.emails ?? []) xml += `<EMAIL><USERID>${EscapeXml(address)}</USERID><INTERNET/></EMAIL>`;
  if (card.city) xml += `<ADR><WORK/><LOCALITY>${EscapeXml(card.city)}</LOCALITY></ADR>`;
  xml += '</vCard>';
  return PostRecord(context, '/pelorin/index.htm', { Command: 'insert', XML: xml, Redirect: 'index.htm' });
}

// The rows of the card list as the user reads them: name, organisation,
// phone, e-mail (the cells before the buttons), on a page showing index.htm.
export async function CardRows(page) {
  return page.locator('table.cards tbody tr').evaluateAll((rows) => rows.map((row) =>
    Array.from(row.querySelectorAll('td:not(.col-actions)'))
        .map((cell) => cell.innerText.replace(/\s+/g, ' ').trim()).join(' | ')));
}

// The names the card list shows, in list order.
export async function CardNames(page) {
  return page.locator('table.cards tbody td.name > a').allTextContents();
}

// The identifier in the link of the list row whose name is `name`.
export async function CardIdOf(page, name) {
  const href = await page.locator('table.cards tbody td.name > a', { hasText: name }).first().getAttribute('href');
  return new URL(href, 'http://x/').searchParams.get('ID');
}

// The detail rows of a card page as "label: value" lines, without the
// elements that a round trip through vCard text gives anew.
// The pieces of text of a cell (a number and its type tags, say) are joined by
// one blank, whether or not the page has been laid out.
function DetailRows(document) {
  const words = (cell) => {
    const walker = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
    const out = [];
    while (walker.nextNode()) {
      const text = walker.currentNode.textContent.replace(/\s+/g, ' ').trim();
      if (text) out.push(text);
    }
    return out.join(' ');
  };
  return Array.from(document.querySelectorAll('table.details tr'))
      .map((tr) => `${words(tr.querySelector('th'))}: ${words(tr.querySelector('td'))}`)
      .filter((row) => !row.startsWith('vCard version:'));
}

export async function CardDetails(page) {
  return page.evaluate(`(${DetailRows})(document)`);
}

// The same for many card pages at once: the page fetches each of `hrefs` with
// its own credentials and parses it with the browser's HTML parser, which is
// much quicker than a navigation per card.
export async function CardDetailsOf(page, hrefs) {
  return page.evaluate(async ([rows_source, targets]) => {
    const rows = eval(`(${rows_source})`);  // a function reaches the page only as its source
    const out = [];
    for (const href of targets) {
      const answer = await fetch(href);
      if (!answer.ok) throw new Error(`${href} answered ${answer.status}`);
      out.push(rows(new DOMParser().parseFromString(await answer.text(), 'text/html')));
    }
    return out;
  }, [DetailRows.toString(), hrefs]);
}

// Cards given as vCard text, posted as the import page posts a file: the body
// starts with the word that marks an upload, then the file. Answers with the
// page the service sends the browser to.
export async function ImportVcards(context, vcard_text) {
  const answer = await context.request.post('/pelorin/import.htm', {
    headers: { 'Content-Type': 'text/x-vcard' },
    data: Buffer.from(`vcfupload\r\n${vcard_text}`, 'utf8'),
    maxRedirects: 0,
    timeout: 300000,
  });
  if (answer.status() !== 302) throw new Error(`the import answered ${answer.status()}: ${await answer.text()}`);
  return answer.headers().location;
}
