// Debian's Chromium, headless, driven through playwright-core (which brings no
// browser of its own and never downloads one). Each account gets a browser
// context of its own that answers the Basic challenge with its credentials.
import { chromium } from 'playwright-core';

const kExecutable = process.env.PELORIN_CHROMIUM || '/usr/bin/chromium';

// Nothing outside the loopback service may be contacted, and the run must not
// depend on a GPU or a sandbox that a container lacks. launch() gives the
// browser a fresh, empty profile directory of its own and removes it at close.
const kArguments = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

export function LaunchBrowser() {
  return chromium.launch({ executablePath: kExecutable, headless: true, args: kArguments, timeout: 60000 });
}

// A context signed in as `user`. Pages opened in it fail their test on any
// script dialog, since the pages never raise one in the flows tested here:
// one would mean injected script ran or a form refused valid input.
export async function SignedInContext(browser, origin, user, password, options = {}) {
  const context = await browser.newContext({
    baseURL: origin,
    httpCredentials: { username: user, password, origin },
    viewport: { width: 1280, height: 900 },
    ...options,
  });
  context.dialogs = [];
  context.on('page', (page) => WatchDialogs(context, page));
  context.setDefaultTimeout(15000);
  return context;
}

function WatchDialogs(context, page) {
  page.on('dialog', async (dialog) => {
    context.dialogs.push(`${dialog.type()}: ${dialog.message()}`);
    await dialog.dismiss().catch(() => {});
  });
}
