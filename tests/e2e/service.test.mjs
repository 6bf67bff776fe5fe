// What the page tells a technician and an operator of the line to the press
// console: the service view with each unit's counters, the banner that names
// the port and the system's reason, the program's version, in each language.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { chmodSync, chownSync, mkdirSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { HOST, HostProcess, artefactFolder, browserTest, startHost, tempFolder, until, waitShown } from './lib/host.mjs';
import { KEYS, UNITS, openConsole, startDemo, unit } from './lib/demo.mjs';

const SIM = join(dirname(HOST), 'tessaro-press-sim');

// The simulated console as a program of its own (as a technician runs it),
// with the faults given; the
// host finds it through TESSARO_SERIAL_DIR and runs on a configuration of its own.
async function startWithConsoleFaults(t, faults, { units = UNITS } = {}) {
  const folder = tempFolder(t, 'tsr-line-');
  const ports = join(folder, 'ports');
  const child = spawn(SIM, ['--units', String(units), '--keys', String(KEYS), '--movement-ms', '150',
    '--link-folder', ports, '--quiet', ...faults], { stdio: ['ignore', 'pipe', 'pipe'] });
  const sim = new HostProcess(child);
  t.after(() => sim.stop('SIGTERM'));
  await until('the simulated console', () => {
    if (sim.exited) throw new Error('the simulated console ended: ' + sim.stderrText);
    return sim.stdoutLines.some((l) => l.startsWith('TESSARO_SERIAL_DIR='));
  });
  const storage = join(folder, 'storage');
  mkdirSync(storage, { recursive: true });
  writeFileSync(join(storage, 'Tessaro.ini'), ['[GENERAL]', 'COM1=1', `UnitNumber=${units}`, `KeysNumber=${KEYS}`,
    'Perfector=0', 'DuctorCycle=3', 'ConnectPSX=0', 'ConnectLPX=0', 'Language=en',
    `PathLogs=${join(folder, 'log')}`].join('\r\n') + '\r\n');
  const host = await startHost(t, ['--storage', storage], { env: { TESSARO_SERIAL_DIR: ports } });
  return { host, folder };
}

// The service view's table: per unit its state and counters.
const serviceRows = (page) => page.$$eval('#service-units tr', (rows) => rows.map((r) => {
  const counters = {};
  for (const td of r.querySelectorAll('td[data-counter]')) {
    counters[`${td.dataset.span}.${td.dataset.counter}`] = +td.textContent;
  }
  return { unit: +r.dataset.unit, state: r.dataset.state, stateText: r.querySelector('.service-state').textContent,
    counters };
}));

const axeFindings = async (page, what) => {
  const axeSource = readFileSync(new URL(import.meta.resolve('axe-core/axe.min.js')), 'utf8');
  await page.addScriptTag({ content: axeSource });
  const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id} (${v.impact}): ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(' | ')}`));
  return violations.map((v) => `${what}: ${v}`);
};

browserTest('a unit made silent shows as not answering in the service view, its silent count rising, the others answering', async (t) => {
  // As an operator is trained: tessaro --simulate with the console's fault.
  const { host } = await startDemo(t, { faults: ['--silent-unit', '3'] });
  await until('the host saying which fault the console has',
    () => host.stderrText.includes('fault: unit 3 never answers'));
  const page = await t.openPage();
  await page.goto(host.url);
  await waitShown(page);
  // The first read of every unit is over: unit 3's values are unknown, the others' read.
  await page.waitForFunction((n) => {
    const columns = [...document.querySelectorAll('#units .unit')];
    return columns.length === n && columns.every((c) => c.querySelector('.ductor-note').textContent !== '' &&
      !['queued', 'start', 'retry'].includes(c.dataset.progress));
  }, UNITS, { timeout: 90000 });
  // The console answers (the link is up), but the top bar names unit 3.
  await page.waitForFunction(() => document.getElementById('link-state').dataset.state === 'online' &&
    document.getElementById('link-state-note').textContent === '· unit 3 does not answer', null, { timeout: 30000 });
  assert.equal(await page.isHidden('#silent-banner'), true, 'the console as a whole answers');

  // Reached from the keyboard; it reads the line every second while open.
  await page.focus('#open-service');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#service-dialog[open]');
  // Every unit has been read once: keys, ductor and cycle.
  await page.waitForFunction(() => [...document.querySelectorAll('#service-units tr')].every((r) => {
    const count = (c) => +r.querySelector(`td[data-span="sinceStart"][data-counter="${c}"]`).textContent;
    return r.dataset.unit === '3' ? count('silent') >= 9 : count('answered') >= 3;
  }), null, { timeout: 90000 });
  let rows = await serviceRows(page);
  assert.deepEqual(rows.map((r) => r.unit), [1, 2, 3, 4, 5, 6]);
  for (const r of rows) {
    if (r.unit === 3) {
      assert.equal(r.state, 'notAnswering');
      assert.equal(r.stateText, 'Does not answer');
      assert.ok(r.counters['sinceStart.silent'] >= 9, 'unit 3 waited in vain: ' + JSON.stringify(r));
      assert.ok(r.counters['sinceStart.retries'] >= 2, 'unit 3 was asked again: ' + JSON.stringify(r));
      assert.equal(r.counters['sinceStart.answered'], 0);
      assert.ok(r.counters['lastMinute.silent'] >= 3);
    } else {
      assert.equal(r.state, 'answering', `unit ${r.unit}`);
      assert.ok(r.counters['sinceStart.answered'] >= 3, `unit ${r.unit} answered its reads`);
      assert.equal(r.counters['sinceStart.silent'], 0, `unit ${r.unit}`);
    }
  }
  assert.equal(await page.textContent('#service-port'), 'Open');
  assert.equal(await page.textContent('#service-not-answering'), '3');
  assert.match(await page.textContent('#service-console'), /^Answers; last answer \d\d:\d\d:\d\d \(\d+ s ago\)$/);
  const problems = await axeFindings(page, 'service view');
  await page.screenshot({ path: join(artefactFolder(), 'console-service-view.png') });
  // Escape closes it and gives the focus back.
  await page.keyboard.press('Escape');
  await page.waitForSelector('#service-dialog', { state: 'hidden' });
  assert.equal(await page.evaluate(() => document.activeElement.id), 'open-service');

  // A refresh asks every unit again: unit 3's silent count rises, the others still answer.
  const silentBefore = rows.find((r) => r.unit === 3).counters['sinceStart.silent'];
  await page.click('#production-refresh');
  await page.click('#open-service');
  await page.waitForFunction((before) => {
    const cell = document.querySelector('#service-units tr[data-unit="3"] td[data-span="sinceStart"][data-counter="silent"]');
    return cell && +cell.textContent >= before + 3;
  }, silentBefore, { timeout: 60000 });
  rows = await serviceRows(page);
  assert.deepEqual(rows.filter((r) => r.state === 'answering').map((r) => r.unit), [1, 2, 4, 5, 6]);
  await page.keyboard.press('Escape');

  // A job saved now leaves unit 3 out and says so.
  await page.click('.memory-slot[data-slot="0"] .memory-save');
  await page.fill('#memory-desc', 'without unit 3');
  await page.click('#memory-confirm');
  await page.waitForFunction(() => [...document.querySelectorAll('.message-text')].some((m) => m.textContent ===
    'Job saved to memory 1 without unit 3, which did not answer: a recall leaves it as it is.'), null, { timeout: 90000 });
  assert.deepEqual(problems, []);
});

browserTest('a console that answers no unit: the page says it is silent, the port being open', async (t) => {
  const { host } = await startWithConsoleFaults(t, ['--silent-unit', '1', '--silent-unit', '2'], { units: 2 });
  const page = await t.openPage();
  await page.goto(host.url);
  await waitShown(page);
  await page.waitForSelector('#silent-banner', { state: 'visible', timeout: 120000 });
  assert.equal(await page.getAttribute('#link-state', 'data-state'), 'silent');
  assert.equal(await page.textContent('#link-state-text'), 'Console silent: no answer since the start');
  assert.match(await page.textContent('#silent-banner'), /serial port is open, but no unit has answered since the start/);
  assert.equal(await page.isHidden('#serial-banner'), true);
  await page.click('#silent-service');
  await page.waitForSelector('#service-dialog[open]');
  assert.equal(await page.textContent('#service-console'), 'Silent: no answer since the start');
  await page.waitForFunction(() => [...document.querySelectorAll('#service-units tr')]
    .map((r) => r.dataset.state).join() === 'notAnswering,notAnswering', null, { timeout: 60000 });
  await page.keyboard.press('Escape');
  // Hidden, it stays hidden while the console stays silent.
  await page.click('#silent-dismiss');
  await page.waitForTimeout(2500);
  assert.equal(await page.isHidden('#silent-banner'), true);
});

// The port cannot be opened: the banner names the device, the system's reason
// and what to do, and the service view says the same.
const PORT_FAILURES = [
  ['no device behind the port', (folder) => {
    renameSync(join(folder, 'ports', 'COM1'), join(folder, 'ports', 'COM1.away'));
  }, 'no such file or directory', /There is no such port: check the serial port number/],
  ['a plain file where the port should be', (folder) => {
    renameSync(join(folder, 'ports', 'COM1'), join(folder, 'ports', 'COM1.away'));
    writeFileSync(join(folder, 'ports', 'COM1'), '');
  }, 'not a serial device', /This is no serial port/],
];

for (const [what, breakPort, reason, advice] of PORT_FAILURES) {
  browserTest(`the serial banner names the device and the reason: ${what}`, async (t) => {
    const { host, folder } = await startDemo(t);
    const page = await openConsole(t, host);
    breakPort(folder);
    await page.reload();
    await page.waitForSelector('#serial-banner', { state: 'visible', timeout: 60000 });
    const device = join(folder, 'ports', 'COM1');
    const shown = (await page.textContent('#serial-reason')).trim();
    assert.ok(shown.startsWith(`${device}: ${reason}`), shown);
    assert.match(await page.textContent('#serial-advice'), advice);
    assert.equal(await page.isHidden('#serial-text'), true);
    assert.equal(await page.getAttribute('#link-state', 'data-state'), 'offline');
    await page.click('#open-service');
    assert.equal(await page.textContent('#service-port'), `Not open: ${shown}`);
    await page.keyboard.press('Escape');
    // Mended, the banner goes with the next start.
    rmSync(join(folder, 'ports', 'COM1'), { force: true });
    renameSync(join(folder, 'ports', 'COM1.away'), join(folder, 'ports', 'COM1'));
    await page.reload();
    await page.waitForFunction(() => document.getElementById('link-state').dataset.state === 'online', null,
      { timeout: 60000 });
    assert.equal(await page.isHidden('#serial-banner'), true);
  });
}

// A port the user may not open, as a USB adapter is to a user outside the
// dialout group: the port belongs to someone else (run as root, the host runs
// as nobody), or its mode lets nobody in.
browserTest('the serial banner names the device, "permission denied" and the dialout group', async (t) => {
  const asRoot = process.getuid() === 0;
  const nobody = { uid: 65534, gid: 65534 };
  const folder = tempFolder(t, 'tsr-perm-');
  const ports = join(folder, 'ports');
  const storage = join(folder, 'storage');
  const cwd = tempFolder(t, 'tsr-cwd-');
  mkdirSync(ports);
  mkdirSync(storage);
  writeFileSync(join(ports, 'COM1'), '');
  chmodSync(join(ports, 'COM1'), asRoot ? 0o600 : 0o000);
  writeFileSync(join(storage, 'Tessaro.ini'), ['[GENERAL]', 'COM1=1', 'UnitNumber=2', 'KeysNumber=32',
    'Language=en', `PathLogs=${join(storage, 'log')}`].join('\r\n') + '\r\n');
  if (asRoot) {
    for (const p of [folder, storage, join(storage, 'Tessaro.ini'), cwd]) chownSync(p, nobody.uid, nobody.gid);
  }
  const host = await startHost(t, ['--storage', storage],
    { env: { TESSARO_SERIAL_DIR: ports }, cwd, user: asRoot ? nobody : {} });
  const page = await t.openPage();
  await page.goto(host.url);
  await waitShown(page);
  await page.waitForSelector('#serial-banner', { state: 'visible', timeout: 60000 });
  assert.equal((await page.textContent('#serial-reason')).trim(), `${join(ports, 'COM1')}: permission denied`);
  assert.match(await page.textContent('#serial-advice'), /add the user to the dialout group/);
  await page.click('#language-switch button[lang="de"]');
  assert.match(await page.textContent('#serial-advice'), /in die Gruppe dialout aufnehmen/);
});

browserTest('the settings dialog shows the version that tessaro --version says', async (t) => {
  const said = execFileSync(HOST, ['--version'], { encoding: 'utf8' }).trim();
  const version = /^tessaro (\S+)$/.exec(said);
  assert.ok(version, said);
  const { host } = await startDemo(t);
  const page = await openConsole(t, host);
  await page.click('#open-settings');
  assert.equal(await page.textContent('#program-version'), `Program version ${version[1]}`);
  assert.equal(await page.isVisible('#program-version'), true);
});

// The new texts in each language the page has; the host's texts of the job
// memory are shown in the page's language too.
const TRANSLATED = {
  en: [
    ['#open-service', 'Service view'],
    ['#service-heading', 'Service view: the line to the press console'],
    ['#service-counter-heads th[data-span="sinceStart"]:nth-child(3)', 'Silent'],
    ['#service-units tr[data-unit="1"] .service-state', 'Answers'],
    ['#service-port', 'Open'],
    ['#program-version', 'Program version '],
    ['.message-text', 'Nothing recalled: memory 4 holds no job.'],
  ],
  de: [
    ['#open-service', 'Serviceansicht'],
    ['#service-heading', 'Serviceansicht: die Leitung zum Farbpult'],
    ['#service-counter-heads th[data-span="sinceStart"]:nth-child(3)', 'Ohne Antwort'],
    ['#service-units tr[data-unit="1"] .service-state', 'Antwortet'],
    ['#service-port', 'Offen'],
    ['#program-version', 'Programmversion '],
    ['.message-text', 'Nichts abgerufen: Speicher 4 enthält keinen Auftrag.'],
  ],
};

browserTest('a language switch shows the service view, the version and the job memory messages translated, axe-clean', async (t) => {
  const { host } = await startDemo(t);
  const page = await openConsole(t, host);
  // A recall of an empty position, as a page may ask for it.
  await page.evaluate(() => host.loadConfig(3));
  await page.waitForSelector('.message-text', { timeout: 60000 });
  const problems = [];
  for (const [lang, texts] of Object.entries(TRANSLATED)) {
    await page.click(`#language-switch button[lang="${lang}"]`);
    await page.click('#open-settings');
    const version = await page.textContent('#program-version');
    await page.click('#settings-dialog .dialog-close');
    await page.click('#open-service');
    await page.waitForSelector('#service-units tr[data-unit="1"][data-state="answering"]');
    problems.push(...await axeFindings(page, `${lang}, service view`));
    for (const [selector, text] of texts) {
      const shown = selector === '#program-version' ? version
        : selector === '.message-text' ? (await page.$$eval('.message-text', (m) => m.map((x) => x.textContent))).find((x) => x === text)
          : (await page.textContent(selector)).trim();
      if (selector === '#program-version') assert.ok(shown.startsWith(text), `${lang} ${selector}: ${shown}`);
      else assert.equal(shown, text, `${lang} ${selector}`);
    }
    await page.keyboard.press('Escape');
  }
  // The banners in German too.
  await page.evaluate(() => App.showSerialError());
  problems.push(...await axeFindings(page, 'de, serial banner'));
  assert.deepEqual(problems, []);
});
