// Drives the page against the fake host in headless Chromium: every operator flow,
// no call refused by the host rules, no serious or critical axe findings.
//   NODE_PATH=<folder with playwright-core and axe-core> node htmlapp/dev/smoke.mjs [base-url] [shot-folder]
import { createRequire } from 'node:module';
import { join } from 'node:path';
const require = createRequire(join(process.env.NODE_PATH || '.', 'x.js'));
const { chromium } = require('playwright-core');
const axeSource = require('fs').readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

const base = process.argv[2] || 'http://127.0.0.1:8765/';
const shots = process.argv[3] || '/tmp';
let failures = 0;
const check = (ok, what) => { if (!ok) { failures++; process.stdout.write('FAIL ' + what + '\n'); } else process.stdout.write('ok   ' + what + '\n'); };

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
const consoleLines = [];
page.on('console', (m) => consoleLines.push(m.text()));
page.on('pageerror', (e) => consoleLines.push('pageerror ' + e.message));

async function axe(label) {
  await page.addScriptTag({ content: axeSource });
  const r = await page.evaluate(async () => (await window.axe.run(document)).violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => v.id + ': ' + v.nodes.map((n) => n.target.join(' ')).slice(0, 3).join(' | ')));
  check(r.length === 0, 'axe ' + label + (r.length ? '\n  ' + r.join('\n  ') : ''));
}
const calls = () => page.evaluate(() => window.__hostCalls.splice(0));
const refused = () => page.evaluate(() => window.__hostViolations.slice());

process.on('unhandledRejection', async (e) => {
  process.stdout.write('FAIL ' + e.message.split('\n')[0] + '\n');
  await page.screenshot({ path: join(shots, 'page-failure.png') }).catch(() => {});
  process.exit(1);
});
await page.goto(base + '?fast=1&cycle=3');
await page.waitForFunction(() => document.querySelectorAll('.unit').length === 4);
await page.waitForFunction(() => document.querySelector('.unit[data-unit="4"] .ductor-input').value !== '');
check(await page.locator('#link-state').getAttribute('data-state') === 'online', 'running state shown');
await axe('main view');

await calls();
await page.click('.unit[data-unit="2"] .unit-select');
await page.click('.unit[data-unit="3"] .unit-select');
check(await page.evaluate(() => host.selectedUnits) === '2,3', 'selection written as 2,3');
await page.click('#set-working');
await page.waitForFunction(() => document.querySelector('.unit[data-unit="3"]').dataset.progress === 'done');
check(await page.locator('.unit[data-unit="2"]').getAttribute('data-progress') === 'done', 'units 2 and 3 reach done');

// ductor edit by stepper and by typing, then apply
await page.click('.unit[data-unit="2"] .field-ductor .step-up');
await page.fill('.unit[data-unit="3"] .ductor-input', '77');
await page.press('.unit[data-unit="3"] .ductor-input', 'Tab');
let c = await calls();
check(c.some((x) => x[0] === 'setUnitDuctorValue' && x[1] === 3 && x[2] === 77), 'typed ductor sent as integers');
check(await page.locator('.unit[data-unit="3"] .field-ductor').evaluate((e) => e.classList.contains('is-changed')), 'changed ductor marked');
await page.fill('.unit[data-unit="2"] .keys-input', '12');
await page.press('.unit[data-unit="2"] .keys-input', 'Enter');
await page.click('#ductor-apply');
await page.waitForFunction(() => document.querySelector('.unit[data-unit="3"] .ductor-note').textContent.includes('77'));
check(await page.inputValue('.unit[data-unit="2"] .keys-input') === '0', 'key offset reset after done');
c = await calls();
check(c.some((x) => x[0] === 'GetDuctor' && x[1] === 3), 'ductor read back after done');

// percentage mode
await page.click('#mode-percent');
c = await calls();
check(c.some((x) => x[0] === 'setKeysMode' && x[1] === 1), 'percent mode sent as 1');
await page.fill('.unit[data-unit="3"] .keys-input', '-10');
await page.press('.unit[data-unit="3"] .keys-input', 'Enter');
c = await calls();
check(c.some((x) => x[0] === 'setKeysPercentage' && x[1] === 3 && x[2] === -10), 'percentage sent');
await page.click('#mode-offset');

// cycle choice
await page.selectOption('.unit[data-unit="2"] .cycle-select', '18');
c = await calls();
check(c.some((x) => x[0] === 'setUnitDuctorCycle' && x[1] === 2 && x[2] === 18), 'cycle sent');

// copy and swap
await page.selectOption('#copy-from', '1');
await page.selectOption('#copy-to', '4');
await page.click('#copy-unit');
await page.click('#confirm-ok'); // a whole unit changes: asked first
c = await calls();
check(c.some((x) => x[0] === 'CopyUnit' && x[1] === 1 && x[2] === 4), 'copy 1 onto 4');
await page.click('#swap-unit');
await page.click('#confirm-ok');
c = await calls();
check(c.some((x) => x[0] === 'SwapUnit' && x[1] === 1 && x[2] === 4), 'swap 1 and 4');

// ink-up countdown
await page.click('#ink-up');
await page.click('#confirm-ok');
await page.waitForFunction(() => /\d+\ss/.test(document.getElementById('ink-up-label').textContent));
check(await page.locator('#ink-up').isDisabled(), 'ink-up shows countdown');

// memory save and recall
await page.click('.memory-slot[data-slot="1"] .memory-save');
await page.fill('#memory-desc', 'Job "A" | test');
await page.screenshot({ path: join(shots, 'page-memory-dialog.png') });
await axe('memory dialog');
await page.click('#memory-confirm');
await page.waitForFunction(() => document.querySelector('.memory-slot[data-slot="1"] .memory-desc').textContent === 'Job "A" | test', null, { timeout: 5000 })
  .catch(async (e) => { await page.screenshot({ path: join(shots, 'page-failure.png') }); throw e; });
check(true, 'memory 2 saved with description');
await page.waitForFunction(() => [...document.querySelectorAll('.message-text')].some((m) => m.textContent.includes('memory 2')));
check(true, 'memory saved message shown');
await page.click('.memory-slot[data-slot="1"] .memory-recall');
await page.click('#memory-confirm');
c = await calls();
check(c.some((x) => x[0] === 'loadConfig' && x[1] === 1), 'recall memory 2');

// settings
await page.click('#open-settings');
await page.screenshot({ path: join(shots, 'page-settings.png') });
await axe('settings dialog');
await page.click('button.browse[data-folder="loop_commands"]');
await page.waitForFunction(() => document.getElementById('folder-loop_commands').value === 'D:\\jobs\\loop_commands');
check(true, 'folder picker fills the field');
check(await page.inputValue('#folder-preset_input') === 'D:\\Velora\\press1\\xml\\preset', 'folders decoded with single backslashes');
await page.fill('input[name="com"]', '0');
await page.click('#settings-save');
check(await page.locator('#settings-dialog').evaluate((d) => d.open), 'invalid COM keeps the dialog open');
await page.fill('input[name="com"]', '7');
await page.click('#settings-save');
c = await calls();
const saved = c.find((x) => x[0] === 'saveSettings');
check(saved && JSON.parse(saved[1]).com === 7 && JSON.parse(saved[1]).loop_commands === 'D:\\jobs\\loop_commands', 'settings saved');

// language
await page.click('#language-switch button[lang="de"]');
check(await page.locator('#set-working').textContent() === 'Arbeitsstellung', 'German texts');
await page.screenshot({ path: join(shots, 'page-de.png') });
await page.click('#language-switch button[lang="en"]');

// joined pending messages: quoting, doubled quotes, bars and an empty entry
await page.click('#messages-clear');
await page.evaluate(() => { host.ShowError('plain'); host.ShowError('say "hi" | bye'); host.ShowError(''); });
await page.waitForTimeout(100);
const texts = await page.$$eval('.message-text', (els) => els.map((e) => e.textContent));
check(JSON.stringify(texts.slice(0, 3)) === JSON.stringify(['', 'say "hi" | bye', 'plain']), 'pending messages parsed: ' + JSON.stringify(texts.slice(0, 3)));

check((await refused()).length === 0, 'no call refused by the host rules: ' + (await refused()).join('; '));
check(consoleLines.length === 0, 'no console output: ' + consoleLines.join('; '));

// serial failure and a larger press
await page.goto(base + '?fast=1&serial=fail&units=12&cycle=0');
await page.waitForFunction(() => !document.getElementById('serial-banner').hidden);
check(await page.locator('.field-cycle').first().isHidden(), 'no cycle field without a cycle scale');
await page.screenshot({ path: join(shots, 'page-serial-12.png') });
await axe('serial banner');
await browser.close();
process.stdout.write(failures ? failures + ' failed\n' : 'all passed\n');
process.exit(failures ? 1 : 0);
