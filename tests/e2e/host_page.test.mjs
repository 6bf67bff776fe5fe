// The host serving a small test page to headless Chromium: host operations
// from the page under the call rules, page calls over the stream, the
// host's window-level handling of console messages, keys and the context menu.
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { browserTest, gotoHost, startHost, tempFolder, until, waitShown } from './lib/host.mjs';

const PAGE = process.env.TSR_TEST_PAGE && resolve(process.env.TSR_TEST_PAGE);
if (!PAGE) throw new Error('TSR_TEST_PAGE must name the test page folder');
// A page that knows only the contract (App, the five ids, startApp once loaded).
const CONTRACT_PAGE = resolve(PAGE, '..', 'contract_page');

// A host serving the test page, with storage in a fresh folder and no serial
// port to be found (COM1 names an empty folder's entry), and a page on it.
async function hostWithPage(t) {
  const folder = tempFolder(t);
  const ports = join(folder, 'no-ports');
  mkdirSync(ports);
  const host = await startHost(t, ['--page-folder', PAGE, '--storage', join(folder, 'storage')],
    { env: { TESSARO_SERIAL_DIR: ports } });
  const page = await t.openPage();
  await gotoHost(page, host);
  await waitShown(page);
  return { host, page, folder };
}

const callsOf = (page, name) => page.evaluate((n) => window.callsOf(n), name);
async function waitCall(page, name, count = 1) {
  await page.waitForFunction(([n, c]) => window.callsOf(n).length >= c, [name, count], { timeout: 60000 });
  return callsOf(page, name);
}

browserTest('the host serves the test page with its host object defined before the page script', async (t) => {
  const { page } = await hostWithPage(t);
  assert.equal(await page.evaluate(() => window.hostAtStart), 'object');
  assert.equal(await page.textContent('#state'), 'loaded');
  const names = await page.evaluate(() => Object.keys(host));
  for (const name of ['startApp', 'GetConfig', 'setKeys', 'RunAsyncCommand', 'ExecuteJS', 'ShowError',
    'errors', 'isSerialOpen', 'selectedUnits', 'ductorCycleValues']) {
    assert.ok(names.includes(name), name + ' is on the host object');
  }
  // The object cannot be replaced or extended by the page.
  assert.equal(await page.evaluate(() => Object.isFrozen(host)), true);
});

// Each case: a script expression against host, and what it must yield.
// Refused calls yield undefined; accepted value-returning calls give their value.
const CALL_RULES = [
  ['GetConfig("UnitNumber")', (v) => typeof v === 'string' && /^\d+$/.test(v)],
  ['GetConfig("Unknown")', (v) => v === ''],
  ['GetConfig()', (v) => v === undefined],
  ['GetConfig("UnitNumber", "x")', (v) => v === undefined],
  ['GetConfig(7)', (v) => v === undefined],
  ['GetConfig(true)', (v) => v === undefined],
  ['GetConfig(null)', (v) => v === undefined],
  ['GetStoragePath("probe.txt")', (v) => typeof v === 'string' && v.endsWith('/storage/probe.txt')],
  ['GetStoragePath(["probe.txt"])', (v) => v === undefined],
  ['startApp(1)', (v) => v === undefined],
];

browserTest('call rules: a call of the wrong shape yields undefined', async (t) => {
  const { page } = await hostWithPage(t);
  for (const [expression, expected] of CALL_RULES) {
    const value = await page.evaluate((e) => (0, eval)('host.' + e), expression);
    assert.ok(expected(value), `host.${expression} gave ${JSON.stringify(value)}`);
  }
});

// Refused accesses with an effect that would show: each must change nothing.
const REFUSED_EFFECTS = [
  ['ShowError(1)', 'errors', ''],
  ['ShowError("a", "b")', 'errors', ''],
  ['ShowError()', 'errors', ''],
  ['selectedUnits = 23', 'selectedUnits', '1,2'],
  ['selectedUnits = ["3"]', 'selectedUnits', '1,2'],
  ['isSerialOpen = true', 'isSerialOpen', true],
  ['isSerialOpen = 2', 'isSerialOpen', true],
  ['isSerialOpen = -1', 'isSerialOpen', true],
  ['isSerialOpen = 0.5', 'isSerialOpen', true],
  ['isSerialOpen = "0"', 'isSerialOpen', true],
  ['ductorCycleValues = 3', 'ductorCycleValues', '2,0,3'],
];

browserTest('call rules: a refused call runs nothing', async (t) => {
  const { page } = await hostWithPage(t);
  // Units exist once the configuration is loaded; the start's own messages
  // (its read-back runs on) are read away until no more come.
  await page.evaluate(() => host.startApp());
  let quiet = 0;
  await until('the start to settle', async () => {
    quiet = (await page.evaluate(() => host.errors)) === '' ? quiet + 1 : 0;
    return quiet >= 5;
  }, { interval: 200 });
  await page.evaluate(() => { host.selectedUnits = '1,2'; host.isSerialOpen = 1; host.ductorCycleValues = '2,0,3'; });
  for (const [statement, property, unchanged] of REFUSED_EFFECTS) {
    const result = await page.evaluate(([s, p]) => {
      const value = (0, eval)('host.' + s);
      return { value: value === undefined ? 'undefined' : value, after: host[p] };
    }, [statement, property]);
    assert.deepEqual(result.after, unchanged, `host.${statement} changed ${property}`);
  }
  // A refused ExecuteJS sends nothing to the page; an accepted one does.
  await page.evaluate(() => { host.ExecuteJS(5); host.ExecuteJS('App.marker(1)', 'x'); host.ExecuteJS('App.marker(2)'); });
  const markers = await waitCall(page, 'marker');
  await page.evaluate(() => host.ExecuteJS('App.marker(3)'));
  await waitCall(page, 'marker', 2);
  assert.deepEqual((await callsOf(page, 'marker')).map((c) => c[1]), [2, 3]);
  assert.equal(markers.length, 1);
  // Accepted writes hold.
  assert.deepEqual(await page.evaluate(() => {
    host.isSerialOpen = 0;
    const closed = host.isSerialOpen;
    host.isSerialOpen = 1;
    host.selectedUnits = '2,3';
    return [closed, host.isSerialOpen, host.selectedUnits];
  }), [false, true, '2,3']);
});

browserTest('errors: joined with "|", quoted where needed, emptied by the read', async (t) => {
  const { page } = await hostWithPage(t);
  const [joined, again] = await page.evaluate(() => {
    host.ShowError('plain');
    host.ShowError('say "hi" | bye');
    host.ShowError('tab\there');
    return [host.errors, host.errors];
  });
  assert.equal(joined, 'plain|"say ""hi"" | bye"|"tab\there"');
  assert.equal(again, '');
  assert.equal(await page.evaluate(() => { host.ShowError(''); return host.errors; }), '""');
  // Every message tells the page to fetch the pending messages.
  await waitCall(page, 'showPendingErrors', 4);
});

browserTest('page calls issued in order arrive in order', async (t) => {
  const { page } = await hostWithPage(t);
  const count = 300;
  await page.evaluate((n) => {
    for (let i = 0; i < n; i++) host.ExecuteJS(`App.seq(${i}, "text with \\"quotes\\" and \\u00e4")`);
  }, count);
  const calls = await waitCall(page, 'seq', count);
  assert.deepEqual(calls.map((c) => c[1]), [...Array(count).keys()]);
  assert.equal(calls[0][2], 'text with "quotes" and \u00e4');
});

browserTest('startApp runs the start sequence: settings, languages, units, memory list, serial state', async (t) => {
  const { page } = await hostWithPage(t);
  await page.evaluate(() => host.startApp());
  const [[, settingsText]] = await waitCall(page, 'loadSettings');
  const settings = JSON.parse(settingsText);
  for (const member of ['com', 'units', 'keys', 'perfector', 'ductorcycle', 'preset', 'loop', 'preset_input', 'log_path']) {
    assert.ok(member in settings, 'settings carry ' + member);
  }
  const [[, languagesText]] = await waitCall(page, 'loadLanguages');
  const languages = JSON.parse(languagesText);
  // The languages come from the served page's locales, apostrophes turned into "|".
  assert.equal(languages.en.translation.test.greeting, 'It|s the test page');
  const [[, units]] = await waitCall(page, 'loadUnits');
  assert.equal(String(units), String(settings.units));
  await waitCall(page, 'reloadDuctorCycles');
  await page.waitForFunction(() => window.callsOf('loadMemory').length + window.callsOf('emptyMemory').length >= 4,
    null, { timeout: 60000 });
  const slots = [...await callsOf(page, 'loadMemory'), ...await callsOf(page, 'emptyMemory')].map((c) => c[1]).sort();
  assert.deepEqual(slots, [0, 1, 2, 3]);
  // COM1 cannot be opened here: the serial flag drops and the page hears of it.
  await page.waitForFunction(() => host.isSerialOpen === false, null, { timeout: 60000 });
  await page.evaluate(() => host.startApp());
  await waitCall(page, 'showSerialError');
  // The configuration file went into the chosen storage folder.
  const path = await page.evaluate(() => host.GetStoragePath('Tessaro.ini'));
  assert.ok(path.includes('/storage/'), path);
});

browserTest('the host binds the command buttons: a click runs its command', async (t) => {
  const { page } = await hostWithPage(t);
  await page.evaluate(() => host.startApp());
  await waitCall(page, 'loadUnits');
  // The bind messages follow the units on the same stream: once a later page
  // call has arrived, the buttons are bound.
  await page.evaluate(() => { host.selectedUnits = ''; host.ExecuteJS('App.bound()'); });
  await waitCall(page, 'bound');
  await page.click('#set-working');
  await waitCall(page, 'startUnits');
  await page.click('#ink-up');
  await waitCall(page, 'showCountdown');
  const [[, seconds]] = await callsOf(page, 'showCountdown');
  assert.ok(Number.isInteger(seconds) && seconds >= 0, 'countdown in whole seconds: ' + seconds);
});

browserTest('console messages reach the host and come back as a modal "Console: " box', async (t) => {
  const { host, page } = await hostWithPage(t);
  page.allowDialogs = true;
  await page.evaluate(() => console.log('hello', 'from the page'));
  await until('the modal box', () => page.dialogs.includes('Console: hello from the page'));
  assert.match(host.stderrText, /Console: hello from the page/);
  // The host goes on taking calls once the box is closed.
  assert.equal(await page.evaluate(() => { host.ShowError('after'); return host.errors; }), 'after');
});

browserTest('the context menu is suppressed; F12 is the host\'s, other keys reach the page', async (t) => {
  const { page } = await hostWithPage(t);
  await page.click('#state', { button: 'right' });
  await page.waitForFunction(() => window.menus.length === 1);
  assert.deepEqual(await page.evaluate(() => window.menus), [true]);
  await page.focus('#entry');
  await page.keyboard.press('a');
  await page.keyboard.press('F12');
  await page.keyboard.press('Control+b');
  await page.keyboard.press('c');
  await page.waitForFunction(() => window.keysSeen.includes('c'));
  assert.deepEqual(await page.evaluate(() => window.keysSeen), ['a', 'Control', 'b', 'c']);
});

browserTest('after a reload the page calls go to the new page', async (t) => {
  const { host: process, page } = await hostWithPage(t);
  await page.reload();
  await waitShown(page);
  await page.evaluate(() => host.ExecuteJS('App.afterReload(1)'));
  await waitCall(page, 'afterReload');
  // A second tab takes the stream over; the first hears no more.
  const second = await t.openPage();
  await gotoHost(second, process);
  await waitShown(second);
  await second.evaluate(() => host.ExecuteJS('App.second(1)'));
  await waitCall(second, 'second');
  assert.deepEqual(await callsOf(page, 'second'), []);
});

// The contract page on a host of its own; start says how the page starts
// ("load": in its load handler, "inline": from its last inline script,
// "before-start": a console message, then startApp from the inline script).
async function contractPage(t, { start = 'load', message = '', env = {}, storage = true, ini = null } = {}) {
  const folder = tempFolder(t);
  const ports = join(folder, 'no-ports');
  mkdirSync(ports);
  const args = ['--page-folder', CONTRACT_PAGE];
  if (storage) {
    mkdirSync(join(folder, 'storage'));
    if (ini) writeFileSync(join(folder, 'storage', 'Tessaro.ini'), ini);
    args.push('--storage', join(folder, 'storage'));
  }
  const host = await startHost(t, args, { env: { TESSARO_SERIAL_DIR: ports, ...env } });
  const page = await t.openPage();
  await page.addInitScript(([s, m]) => { sessionStorage.setItem('start', s); sessionStorage.setItem('message', m); },
    [start, message]);
  await gotoHost(page, host);
  return { host, page, folder };
}
const contractCalls = (page, name) => page.evaluate((n) => window.calls.filter((c) => c[0] === n), name);
async function waitContractCall(page, name, count = 1) {
  await page.waitForFunction(([n, c]) => window.calls.filter((x) => x[0] === n).length >= c, [name, count],
    { timeout: 60000 });
  return contractCalls(page, name);
}

for (const start of ['load', 'inline']) {
  browserTest(`a page that calls startApp from its ${start === 'load' ? 'load handler' : 'last inline script'} gets the whole start sequence`, async (t) => {
    const { page } = await contractPage(t, { start });
    const [[, settings]] = await waitContractCall(page, 'loadSettings');
    assert.ok('units' in JSON.parse(settings));
    await waitContractCall(page, 'loadLanguages');
    const [[, units]] = await waitContractCall(page, 'loadUnits');
    assert.equal(units, 4);
    await waitContractCall(page, 'reloadDuctorCycles');
    await page.waitForFunction(() => window.calls.filter((c) => c[0] === 'loadMemory' || c[0] === 'emptyMemory').length === 4,
      null, { timeout: 60000 });
    // The port cannot be opened here: the page hears of it at the end of the start.
    await waitContractCall(page, 'showSerialError');
    // The buttons were bound in the same sequence.
    await waitShown(page);
    await page.click('#set-working');
    await waitContractCall(page, 'startUnits');
  });
}

// The host's additions to the contract (key profiles, ink, failed reads, key
// results) reach a page only when it defines them; the contract page does not,
// and hears of them neither as calls nor as "is not a function" boxes.
browserTest('a page that keeps to the contract alone is not called with the host\'s additions', async (t) => {
  const { page } = await contractPage(t);
  await waitContractCall(page, 'loadUnits');
  await waitShown(page);
  await page.evaluate(() => {
    for (const call of ['App.showUnitKeys(1, "1,2,3")', 'App.showUnitInk(1, "Cyan", "#00ffff")',
      'App.showReadFailed(1, 2)', 'App.unitKeysResult(1, 0)', 'App.loadUnits(7)'])
      host.ExecuteJS(call);
  });
  // Page calls arrive in order: once the last is there, the others were met.
  await page.waitForFunction(() => window.calls.some((c) => c[0] === 'loadUnits' && c[1] === 7), null, { timeout: 30000 });
  // Teardown fails the test on any modal box the page showed.
});

// A modal message while the page is inside startApp: the box waits in the
// page, and the start goes on. The storage folder cannot be named (no HOME,
// no XDG_CONFIG_HOME, no --storage) and a console message arrives as it starts.
browserTest('no hang: message boxes asked for while the page is inside startApp come after it', async (t) => {
  const { page } = await contractPage(t, { start: 'before-start', message: 'written as the page starts',
    storage: false, env: { HOME: '', XDG_CONFIG_HOME: '' } });
  page.allowDialogs = true;
  await waitContractCall(page, 'loadUnits');
  await waitContractCall(page, 'showSerialError');
  await until('both boxes', () => page.dialogs.includes('Console: written as the page starts') &&
    page.dialogs.some((d) => d.startsWith('Application data path could not be retrieved.')));
});

browserTest('unhandled promise rejections reach the host as console messages', async (t) => {
  const { page } = await hostWithPage(t);
  page.allowDialogs = true;
  await page.evaluate(() => { Promise.reject(new Error('nobody caught this')); });
  await until('the modal box', () => page.dialogs.includes('Console: Uncaught (in promise) Error: nobody caught this'));
  page.errors = page.errors.filter((e) => e !== 'nobody caught this'); // the browser's own report of it
});

browserTest('the host\'s folder picker: keyboard, a confirmed folder reaches App.setSettingsFolder, cancel sends nothing, no axe findings', async (t) => {
  const base = tempFolder(t);
  for (const sub of ['in/a', 'in/b/deeper']) mkdirSync(join(base, sub), { recursive: true });
  const { page } = await contractPage(t, { ini: `[GENERAL]\r\nPathPresetRCV=${join(base, 'in')}\r\n` });
  await waitContractCall(page, 'loadUnits');
  await waitShown(page);
  // The page's own styles do not reach into the picker.
  await page.addStyleTag({ content: 'button { display: none !important; } * { color: transparent !important; }' });
  await page.evaluate(() => host.browseFolder('preset_input'));
  const dialog = page.getByRole('dialog', { name: 'Choose a folder' });
  await dialog.waitFor();
  assert.equal(await page.locator('tsr-folder-picker #path').textContent(), join(base, 'in'));
  const axeSource = readFileSync(new URL(import.meta.resolve('axe-core/axe.min.js')), 'utf8');
  await page.addScriptTag({ content: axeSource });
  const findings = await page.evaluate(async () => (await window.axe.run(document.querySelector('tsr-folder-picker')))
    .violations.filter((v) => v.impact === 'serious' || v.impact === 'critical').map((v) => v.id));
  assert.deepEqual(findings, []);
  // Keyboard only: the first folder has the focus; Tab to the next, Enter opens it, Enter on the
  // empty-handed focus (the choose button once "deeper" is opened) confirms.
  await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  await page.waitForFunction((p) => document.querySelector('tsr-folder-picker').shadowRoot
    .getElementById('path').textContent === p, join(base, 'in', 'b'));
  await page.keyboard.press('Enter');
  await page.waitForFunction((p) => document.querySelector('tsr-folder-picker').shadowRoot
    .getElementById('path').textContent === p, join(base, 'in', 'b', 'deeper'));
  await page.keyboard.press('Enter');
  const [[, target, folder]] = await waitContractCall(page, 'setSettingsFolder');
  assert.deepEqual([target, folder], ['preset_input', join(base, 'in', 'b', 'deeper')]);
  assert.equal(await page.locator('tsr-folder-picker').count(), 0);
  // Cancel, by button and by Escape: nothing reaches the page.
  for (const cancel of [() => page.getByRole('button', { name: 'Cancel' }).click(), () => page.keyboard.press('Escape')]) {
    await page.evaluate(() => host.browseFolder('preset_input'));
    await dialog.waitFor();
    await page.getByRole('button', { name: 'Up one level' }).click();
    await page.waitForFunction((p) => document.querySelector('tsr-folder-picker').shadowRoot
      .getElementById('path').textContent === p, base);
    await cancel();
    await page.locator('tsr-folder-picker').waitFor({ state: 'detached' });
  }
  await page.evaluate(() => host.ExecuteJS('App.showPendingErrors()'));
  await page.waitForFunction(() => window.calls.at(-1)[0] === 'showPendingErrors');
  assert.equal((await contractCalls(page, 'setSettingsFolder')).length, 1);
});
