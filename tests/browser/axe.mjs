// axe-core run inside a page of the service: the accessibility rules of
// WCAG 2.x A and AA (labels, names, contrast, landmarks, language) plus axe's
// best practices, as a screen reader or keyboard user meets them.
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const kAxeScript = require.resolve('axe-core/axe.min.js');

// The findings that keep someone from using the page; minor and moderate ones
// are reported by Findings() but do not fail a test.
const kBlocking = new Set(['serious', 'critical']);

// Every violation of the page as { id, impact, help, targets }, one entry per
// rule, with the selectors of the elements it concerns.
export async function Findings(page) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) {
    await page.addScriptTag({ path: kAxeScript });
  }
  const results = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice'] },
    resultTypes: ['violations'],
  }));
  return results.violations.map((violation) => ({
    id: violation.id,
    impact: violation.impact,
    help: violation.help,
    targets: violation.nodes.map((node) => node.target.join(' ')),
  }));
}

export function Blocking(findings) {
  return findings.filter((finding) => kBlocking.has(finding.impact));
}

// One line per finding, for assertion messages and the log of a run.
export function Describe(findings) {
  return findings.map((f) => `${f.impact} ${f.id}: ${f.help} (${f.targets.slice(0, 4).join(', ')}` +
      `${f.targets.length > 4 ? `, and ${f.targets.length - 4} more` : ''})`).join('\n');
}
