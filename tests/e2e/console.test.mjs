// The console's main job against the simulated press: `tessaro --simulate`
// serving the operator page to headless Chromium. Each test has its own demo
// folder and host; what the press receives is read from the console's trace.
import assert from 'node:assert/strict';
import { copyFileSync, existsSync, mkdirSync, readFileSync, renameSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { artefactFolder, browserTest, tempFolder, until } from './lib/host.mjs';
import {
  KEYS, UNITS, checksum, consoleFrames, ductorWire, enter, openConsole, readIni, select, startDemo, unit,
  waitFrames, waitProgress, waitRunning,
} from './lib/demo.mjs';

const commands = (frames, name) => frames.filter((f) => f.kind === 'command' && f.name === name);
// The value frames that followed the command name for unit n, in order.
const valuesAfter = (frames, name, n) => frames
  .filter((f, i) => i > 0 && f.kind === 'value' && frames[i - 1].kind === 'command' &&
    frames[i - 1].name === name && frames[i - 1].unit === n);

browserTest('start-up: settings, languages, units and memory list shown; the page runs', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  // Settings from the demo configuration fill the settings form.
  const form = await page.evaluate(() => {
    const f = document.getElementById('settings-form').elements;
    return { com: f.com.value, units: f.units.value, keys: f.keys.value, ductorcycle: f.ductorcycle.value,
      preset_input: f.preset_input.value };
  });
  assert.deepEqual(form, { com: '1', units: String(UNITS), keys: String(KEYS), ductorcycle: '3',
    preset_input: join(folder, 'exchange', 'preset') });
  // Both languages offered, English shown.
  assert.deepEqual(await page.$$eval('#language-switch button', (b) => b.map((x) => x.lang)), ['de', 'en']);
  assert.equal(await page.getAttribute('html', 'lang'), 'en');
  assert.equal(await page.textContent('#set-working'), 'Working position');
  // One column per unit with the values read from the press; a cycle field, since the press has a scale.
  assert.deepEqual(await page.$$eval('#units .unit .unit-name', (e) => e.map((x) => x.textContent)),
    Array.from({ length: UNITS }, (_, i) => `Unit ${i + 1}`));
  assert.equal(await page.inputValue(`${unit(1)} .ductor-input`), '0');
  assert.equal(await page.isVisible(`${unit(1)} .field-cycle`), true);
  const cycles = await page.$$eval(`${unit(1)} .cycle-select option`, (o) => o.map((x) => x.value));
  assert.ok(cycles.length > 1 && cycles.includes('2'), 'cycle choices: ' + cycles);
  // Four empty job memories.
  assert.deepEqual(await page.$$eval('#memory-list .memory-slot', (s) => s.map((x) => x.dataset.state)),
    ['empty', 'empty', 'empty', 'empty']);
  assert.equal(await page.isHidden('#serial-banner'), true);
  // The console was read: keys, ductor and cycle of every unit.
  const frames = consoleFrames(folder);
  for (const name of ['GetKeys', 'GetDuctor', 'GetDuctorCycle']) {
    const units = new Set(commands(frames, name).map((f) => f.unit));
    assert.equal(units.size, UNITS, `${name} for every unit`);
  }
  assert.ok(frames.every((f) => f.kind !== 'bad'), 'no frame with a bad checksum');
  // The context menu does not open in the running console.
  await page.evaluate(() => {
    window.menus = [];
    window.addEventListener('contextmenu', (e) => setTimeout(() => window.menus.push(e.defaultPrevented), 0));
  });
  await page.click(`${unit(2)} .profile`, { button: 'right' });
  await page.waitForFunction(() => window.menus.length === 1);
  assert.deepEqual(await page.evaluate(() => window.menus), [true]);
  // The running console, kept among the test artefacts.
  await page.screenshot({ path: join(artefactFolder(), 'console-running.png'), fullPage: true });
});

browserTest('working position for units 2 and 3: frames in order, progress to done', async (t) => {
  const { host, folder } = await startDemo(t, { movementMs: 400 });
  const page = await openConsole(t, host);
  await select(page, [2, 3]);
  const before = commands(consoleFrames(folder), 'WorkingPosition').length;
  assert.equal(before, 0);
  await page.click('#set-working');
  // While the console moves, the page shows the units at work.
  await page.waitForFunction(() => ['queued', 'start'].includes(
    document.querySelector('#units .unit[data-unit="2"]').dataset.progress), null, { timeout: 60000 });
  await waitProgress(page, [2, 3], 'done');
  const moved = commands(consoleFrames(folder), 'WorkingPosition');
  assert.deepEqual(moved.map((f) => f.unit), [2, 3]);
  for (const f of moved) {
    assert.equal(f.bytes[0], 0x06);
    assert.equal(f.bytes[1], f.unit);
    assert.equal(f.bytes[3], checksum(f.bytes.slice(0, 3)));
  }
  assert.equal(await page.textContent(`${unit(3)} .status-text`), 'Done');
  // Units not selected stay where they were.
  for (const n of [1, 4, 5, 6]) assert.notEqual(await page.getAttribute(unit(n), 'data-progress'), 'done');
});

browserTest('a ductor change applied reaches the console as its value frame', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await select(page, [2]);
  await enter(page, `${unit(2)} .ductor-input`, 40);
  // Unit 3 is changed too but not selected: nothing goes to it.
  await enter(page, `${unit(3)} .ductor-input`, 70);
  assert.equal(await page.evaluate(() => document.querySelector('#units .unit[data-unit="2"] .field-ductor')
    .classList.contains('is-changed')), true);
  await page.click('#ductor-apply');
  const value = await waitFrames(folder, 'the ductor value frame for unit 2',
    (frames) => valuesAfter(frames, 'SetDuctor', 2)[0]);
  const wire = ductorWire(40);
  assert.deepEqual(value.bytes, [wire, 0xff - wire]);
  await waitFrames(folder, 'the ductor executed on unit 2',
    (frames) => commands(frames, 'ExecuteDuctor').some((f) => f.unit === 2));
  // Done: the page reads the value back and shows it as the press's.
  await page.waitForFunction(() =>
    document.querySelector('#units .unit[data-unit="2"] .ductor-note').textContent.startsWith('Press: 40'),
  null, { timeout: 60000 });
  assert.equal(await page.evaluate(() => document.querySelector('#units .unit[data-unit="2"] .field-ductor')
    .classList.contains('is-changed')), false);
  const frames = consoleFrames(folder);
  assert.deepEqual(commands(frames, 'SetDuctor').map((f) => f.unit), [2]);
  assert.ok(frames.every((f) => f.kind !== 'bad'), 'no frame with a bad checksum');
});

browserTest('a ductor cycle chosen and applied reaches the console', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await select(page, [4]);
  const options = await page.$$eval(`${unit(4)} .cycle-select option`, (o) => o.map((x) => +x.value));
  const chosen = options.find((v) => v !== 2 && v > 0);
  assert.ok(chosen, 'a cycle other than the console\'s 2 to choose: ' + options);
  await page.selectOption(`${unit(4)} .cycle-select`, String(chosen));
  await page.click('#ductor-apply');
  const value = await waitFrames(folder, 'the cycle value frame for unit 4',
    (frames) => valuesAfter(frames, 'SetDuctorCycle', 4)[0]);
  assert.deepEqual(value.bytes, [chosen, 0xff - chosen]);
  await page.waitForFunction((c) =>
    document.querySelector('#units .unit[data-unit="4"] .cycle-note').textContent.startsWith('Press: 1/' + c),
  chosen, { timeout: 60000 });
});

browserTest('key offsets applied reach the console and are reset on done; refresh shows the new profile', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await select(page, [3]);
  await enter(page, `${unit(3)} .keys-input`, 12);
  await page.click('#ductor-apply');
  const value = await waitFrames(folder, 'the key value frame for unit 3',
    (frames) => valuesAfter(frames, 'SetKeys', 3)[0]);
  // Every key of the console was 0: each goes to 12.
  assert.deepEqual(value.bytes, [...Array(KEYS).fill(12), checksum(Array(KEYS).fill(12))]);
  await page.waitForFunction(() => document.querySelector('#units .unit[data-unit="3"] .keys-input').value === '0',
    null, { timeout: 60000 });
  assert.equal(await page.evaluate(() => document.querySelector('#units .unit[data-unit="3"] .field-keys')
    .classList.contains('is-changed')), false);
  // The refresh reads the new profile.
  await page.click('#production-refresh');
  await page.waitForFunction(() => /mean 12, highest 12/.test(
    document.querySelector('#units .unit[data-unit="3"] .bars').getAttribute('aria-label') || ''), null, { timeout: 60000 });
  assert.equal(await page.$$eval(`${unit(3)} .bars [role="option"]`, (s) => s.length), KEYS);
  // A second apply sends no key change: the offset was reset. Units are applied
  // in order, so once unit 4's ductor is sent, unit 3's keys would have gone.
  await select(page, [3, 4]);
  await enter(page, `${unit(4)} .ductor-input`, 30);
  await page.click('#ductor-apply');
  await waitFrames(folder, 'the ductor of unit 4', (frames) => valuesAfter(frames, 'SetDuctor', 4)[0]);
  assert.equal(valuesAfter(consoleFrames(folder), 'SetKeys', 3).length, 1);
});

browserTest('save to memory 1 with a description, then recall it', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await select(page, [2]);
  await enter(page, `${unit(2)} .ductor-input`, 55);
  await page.click('#ductor-apply');
  await page.waitForFunction(() =>
    document.querySelector('#units .unit[data-unit="2"] .ductor-note').textContent.startsWith('Press: 55'),
  null, { timeout: 60000 });

  const description = 'Job 24-0815 "cover" | front';
  await page.click('.memory-slot[data-slot="0"] .memory-save');
  await page.fill('#memory-desc', description);
  await page.click('#memory-confirm');
  await page.waitForFunction((d) =>
    document.querySelector('.memory-slot[data-slot="0"] .memory-desc').textContent === d, description, { timeout: 60000 });
  const date = await page.textContent('.memory-slot[data-slot="0"] .memory-date');
  assert.match(date, /^Saved \S/);
  await page.waitForFunction(() => [...document.querySelectorAll('.message-text')]
    .some((m) => m.textContent === 'Job saved to memory 1.'), null, { timeout: 60000 });

  // The press changes; the memory brings the job back.
  await enter(page, `${unit(2)} .ductor-input`, 10);
  await page.click('#ductor-apply');
  await page.waitForFunction(() =>
    document.querySelector('#units .unit[data-unit="2"] .ductor-note').textContent.startsWith('Press: 10'),
  null, { timeout: 60000 });
  const setBefore = valuesAfter(consoleFrames(folder), 'SetDuctor', 2).length;
  assert.equal(setBefore, 2);
  await page.click('.memory-slot[data-slot="0"] .memory-recall');
  assert.match(await page.textContent('#memory-dialog-text'), /cover/);
  await page.click('#memory-confirm');
  const recalled = await waitFrames(folder, 'the recalled ductor for unit 2',
    (frames) => valuesAfter(frames, 'SetDuctor', 2)[setBefore]);
  assert.deepEqual(recalled.bytes, [ductorWire(55), 0xff - ductorWire(55)]);
  await page.waitForFunction(() =>
    document.querySelector('#units .unit[data-unit="2"] .ductor-note').textContent.startsWith('Press: 55'),
  null, { timeout: 60000 });
  await page.waitForFunction(() => document.querySelector('.memory-slot[data-slot="0"]').dataset.state === 'job',
    null, { timeout: 60000 });
  // The memory is still listed after a reload (the host reads it from its folder).
  await page.reload();
  await waitRunning(page);
  await page.waitForFunction((d) =>
    document.querySelector('.memory-slot[data-slot="0"] .memory-desc').textContent === d, description, { timeout: 60000 });
  assert.equal(await page.textContent('.memory-slot[data-slot="0"] .memory-date'), date);
});

browserTest('settings changed and saved: written to Tessaro.ini, the library restarts with them', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  assert.equal(readIni(folder).Perfector, '4');
  await page.click('#open-settings');
  await page.fill('#settings-form input[name="perfector"]', '2');
  await page.fill('#settings-form input[name="units"]', '4');
  await page.click('#settings-save');
  // A new unit count reaches the page through a new start: it reloads with four units.
  await waitRunning(page, 4);
  const ini = readIni(folder);
  assert.equal(ini.Perfector, '2');
  assert.equal(ini.UnitNumber, '4');
  assert.equal(ini.COM1, '1');
  const form = await page.evaluate(() => {
    const f = document.getElementById('settings-form').elements;
    return [f.units.value, f.perfector.value];
  });
  assert.deepEqual(form, ['4', '2']);
  // The library runs with the new configuration: a refresh reads four units only.
  const reads = () => commands(consoleFrames(folder), 'GetDuctor').filter((f) => f.unit === 5).length;
  const unit5 = reads();
  const getDuctor = commands(consoleFrames(folder), 'GetDuctor').length;
  await page.click('#production-refresh');
  await waitFrames(folder, 'a refresh of four units', (frames) =>
    commands(frames, 'GetDuctor').length >= getDuctor + 4);
  assert.equal(reads(), unit5);
  assert.equal(await page.isHidden('#serial-banner'), true);
});

// The banner when the port cannot be opened: each case makes COM1 unreachable
// and starts the library again, as the operator would, then mends it.
const SERIAL_FAILURES = [
  ['a COM number with no port behind it', {
    async breakPort(page) {
      await page.click('#open-settings');
      await page.fill('#settings-form input[name="com"]', '7');
      await page.click('#settings-save');
    },
    async mend(page, folder) {
      assert.equal(readIni(folder).COM1, '7');
      await page.click('#serial-settings');
      await page.fill('#settings-form input[name="com"]', '1');
      await page.click('#settings-save');
    },
  }],
  ['the port link gone and the page reloaded', {
    async breakPort(page, folder) {
      renameSync(join(folder, 'ports', 'COM1'), join(folder, 'ports', 'COM1.away'));
      await page.reload();
    },
    async mend(page, folder) {
      renameSync(join(folder, 'ports', 'COM1.away'), join(folder, 'ports', 'COM1'));
      await page.reload();
    },
    // The page's first refresh read nothing: every value is unknown, none a 0.
    async expectUnknown(page) {
      await page.waitForFunction(() => {
        const u = document.querySelector('#units .unit[data-unit="1"]');
        return u.querySelector('.ductor-note').textContent === 'Press: –' &&
          u.querySelector('.cycle-note').textContent === 'Press: –' &&
          u.querySelector('.profile-empty').textContent === 'Key values could not be read' &&
          u.querySelector('.status-text').textContent === 'Could not be read';
      }, null, { timeout: 60000 });
      assert.equal(await page.inputValue(`${unit(1)} .ductor-input`), '');
      // No step from an unknown value.
      await page.click(`${unit(1)} .field-ductor .step-up`);
      assert.equal(await page.inputValue(`${unit(1)} .ductor-input`), '');
    },
  }],
];

for (const [what, { breakPort, mend, expectUnknown }] of SERIAL_FAILURES) {
  browserTest(`the serial-error banner: ${what}`, async (t) => {
    const { host, folder } = await startDemo(t);
    const page = await openConsole(t, host);
    await breakPort(page, folder);
    await page.waitForSelector('#serial-banner', { state: 'visible', timeout: 60000 });
    assert.equal(await page.getAttribute('#link-state', 'data-state'), 'offline');
    assert.match(await page.textContent('#serial-banner'), /No connection to the press console/);
    // It names the device the library tried and the system's reason.
    assert.match(await page.textContent('#serial-reason'), /\/ports\/COM[17]: no such file or directory$/);
    await page.screenshot({ path: join(artefactFolder(), 'console-serial-banner.png') });
    if (expectUnknown) await expectUnknown(page);
    // A press command now reaches no console: the unit is shown as given up,
    // not left at work.
    const before = consoleFrames(folder).length;
    await select(page, [1]);
    await page.click('#set-working');
    await page.waitForFunction(() => document.querySelector('#units .unit[data-unit="1"]').dataset.progress === 'failed',
      null, { timeout: 60000 });
    // Inking up reaches no console either: given up, and no countdown promises it.
    await page.click('#serial-dismiss');
    await page.click('#ink-up');
    await page.click('#confirm-ok');
    await page.waitForSelector('#serial-banner', { state: 'visible', timeout: 60000 });
    await page.waitForFunction(() => !document.getElementById('ink-up').classList.contains('is-counting') &&
      document.querySelector('#units .unit[data-unit="1"]').dataset.progress === 'failed', null, { timeout: 60000 });
    // Mended, the banner goes and commands reach the console again.
    await mend(page, folder);
    await waitRunning(page);
    assert.equal(await page.isHidden('#serial-banner'), true);
    const moved = commands(consoleFrames(folder), 'WorkingPosition').length;
    await select(page, [1]);
    await page.click('#set-working');
    await waitFrames(folder, 'the working position for unit 1',
      (frames) => commands(frames, 'WorkingPosition').length > moved);
    assert.equal(commands(consoleFrames(folder), 'WorkingPosition').length, 1, 'nothing reached the console while broken');
    assert.ok(consoleFrames(folder).length > before);
  });
}

browserTest('German selected: the page shows German texts', async (t) => {
  const { host } = await startDemo(t);
  const page = await openConsole(t, host);
  const visibleTexts = () => page.evaluate(() => {
    const texts = new Set();
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) {
      const el = n.parentElement;
      const text = n.textContent.trim();
      if (!text || !el || el.closest('template, script, style')) continue;
      if (!el.checkVisibility()) continue;
      texts.add(text);
    }
    return [...texts];
  });
  const english = await visibleTexts();
  await page.click('#language-switch button[lang="de"]');
  assert.equal(await page.getAttribute('html', 'lang'), 'de');
  const expected = [
    ['#set-working', 'Arbeitsstellung'],
    ['#units-heading', 'Druckwerke'],
    [`${unit(1)} .unit-name`, 'Werk 1'],
    ['#open-settings', 'Einstellungen'],
    ['.memory-slot[data-slot="0"] .memory-title', 'Speicher 1'],
  ];
  for (const [selector, text] of expected) assert.equal((await page.textContent(selector)).trim(), text, selector);
  // Every visible English text has changed, but for names, numbers and signs.
  const german = new Set(await visibleTexts());
  const same = english.filter((s) => german.has(s) && !/^[\d\s.,:/%+−–-]*$/.test(s) &&
    !['Tessaro', 'EN', 'DE', 'English', 'Deutsch'].includes(s));
  assert.deepEqual(same, [], 'texts left in English');
});

browserTest('a preset dropped into the preset folder reaches the console and shows after refresh', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  const sentBefore = commands(consoleFrames(folder), 'SetKeys').length;
  assert.equal(sentBefore, 0);
  // Copied beside the folder and renamed in, so the watcher sees the whole file at once.
  const preset = join(folder, 'exchange', 'preset');
  copyFileSync(join(folder, 'sample', 'job.xml'), join(folder, 'job.xml.part'));
  renameSync(join(folder, 'job.xml.part'), join(preset, 'job.xml'));
  const keysFrame = await waitFrames(folder, 'the preset\'s keys for unit 1',
    (frames) => valuesAfter(frames, 'SetKeys', 1)[0], { timeout: 90000 });
  const keysSent = keysFrame.bytes.slice(0, -1);
  assert.equal(keysFrame.bytes.at(-1), checksum(keysSent));
  assert.ok(keysSent.some((k) => k > 0), 'the preset opens keys of unit 1');
  const max = Math.max(...keysSent);
  const mean = Math.round(keysSent.reduce((a, b) => a + b, 0) / keysSent.length);
  // Let the watcher finish with the press, then refresh.
  await until('the preset applied', () => {
    const frames = consoleFrames(folder);
    return commands(frames, 'ExecuteKeys').some((f) => f.unit === 1);
  });
  await page.click('#production-refresh');
  await page.waitForFunction(([m, x]) => (document.querySelector('#units .unit[data-unit="1"] .bars')
    .getAttribute('aria-label') || '').includes(`mean ${m}, highest ${x}`), [mean, max], { timeout: 90000 });
  assert.equal(await page.textContent(`${unit(1)} .ink-name`), 'Black');
  // Unit 2 is read after unit 1, behind whatever the preset still sends.
  await page.waitForFunction(() => document.querySelector('#units .unit[data-unit="2"] .ink-name').textContent === 'Cyan',
    null, { timeout: 60000 });
});

browserTest('accessibility: no serious or critical axe findings in the running console', async (t) => {
  const { host } = await startDemo(t);
  const page = await openConsole(t, host);
  const axeSource = readFileSync(new URL(import.meta.resolve('axe-core/axe.min.js')), 'utf8');
  const findings = async (what) => {
    await page.addScriptTag({ content: axeSource });
    const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
      .filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id} (${v.impact}): ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(' | ')}`));
    return violations.map((v) => `${what}: ${v}`);
  };
  // Each view in each language: the names of controls come from the texts.
  const all = [];
  await select(page, [1, 2]);
  for (const lang of ['en', 'de']) {
    await page.click(`#language-switch button[lang="${lang}"]`);
    all.push(...await findings(`${lang}, main view`));
    await page.click('#open-settings');
    all.push(...await findings(`${lang}, settings dialog`));
    await page.click('#settings-dialog .dialog-close');
    await page.click('.memory-slot[data-slot="0"] .memory-save');
    all.push(...await findings(`${lang}, memory dialog`));
    await page.click('#memory-dialog .dialog-close');
  }
  await page.evaluate(() => App.showSerialError());
  all.push(...await findings('de, serial banner'));
  assert.deepEqual(all, []);
});

// The zones of a unit as the page shows them: the value and the press's value of each.
const zonesOf = (page, n) => page.$$eval(`${unit(n)} .bars .zone`, (z) => z.map((x) => ({
  key: +x.dataset.key, press: +x.dataset.press, pending: x.classList.contains('is-pending'),
  label: x.getAttribute('aria-label') })));

browserTest('a preset dropped: each unit shows the keys the console received and its ink, without a refresh', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  const preset = join(folder, 'exchange', 'preset');
  copyFileSync(join(folder, 'sample', 'job.xml'), join(folder, 'job.xml.part'));
  renameSync(join(folder, 'job.xml.part'), join(preset, 'job.xml'));
  await waitProgress(page, [1, 2, 3], 'done');
  // The last key frame each unit received is what its profile shows.
  const received = await waitFrames(folder, 'the preset\'s keys for units 1 to 3', (frames) => {
    const last = [1, 2, 3].map((n) => valuesAfter(frames, 'SetKeys', n).at(-1));
    return last.every(Boolean) && last.map((f) => f.bytes.slice(0, -1));
  });
  for (const [i, keys] of received.entries()) {
    const n = i + 1;
    assert.ok(keys.some((k) => k > 0), `the preset opens keys of unit ${n}`);
    await page.waitForFunction(([sel, want]) => {
      const shown = [...document.querySelectorAll(sel)].map((z) => +z.dataset.key);
      return shown.join(',') === want.join(',');
    }, [`${unit(n)} .bars .zone`, keys], { timeout: 60000 });
  }
  // Ink names of the job on the units, colour on the unit's edge.
  assert.deepEqual(await Promise.all([1, 2, 3].map((n) => page.textContent(`${unit(n)} .ink-name`))),
    ['Black', 'Cyan', 'Magenta']);
  const edge = await page.evaluate(() => getComputedStyle(document.querySelector('#units .unit[data-unit="2"]'))
    .getPropertyValue('--ink').trim());
  assert.notEqual(edge, '#5b6b7a', 'the unit shows its ink colour');
  // The ductors the preset set are shown as the press's.
  const ductors = await waitFrames(folder, 'the preset\'s ductors', (frames) => {
    const last = [1, 2, 3].map((n) => valuesAfter(frames, 'SetDuctor', n).at(-1));
    return last.every(Boolean) && last.map((f) => f.bytes[0]);
  });
  for (const [i, wire] of ductors.entries()) {
    await page.waitForFunction(([sel, w]) => {
      const m = /Press: (\d+)/.exec(document.querySelector(sel).textContent);
      return m && Math.min(Math.floor(+m[1] * 256 / 100), 255) === w;
    }, [`${unit(i + 1)} .ductor-note`, wire], { timeout: 60000 });
  }
  // Still "Done": the host's own read afterwards does not hide the result.
  assert.equal(await page.textContent(`${unit(1)} .status-text`), 'Done');
});

browserTest('zones edited one by one: only those zones go to the console, in one frame; undo drops an edit', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await page.waitForFunction(() => document.querySelectorAll('#units .unit[data-unit="2"] .bars .zone').length === 32,
    null, { timeout: 60000 });
  const before = await zonesOf(page, 2);
  // Unit 1 from the keyboard only: zone 3 and 4 raised, then undone.
  await page.focus(`${unit(1)} .bars`);
  for (const key of ['ArrowRight', 'ArrowRight', 'Shift+ArrowRight', 'PageUp']) await page.keyboard.press(key);
  let one = await zonesOf(page, 1);
  assert.deepEqual(one.map((z) => z.pending), one.map((z, i) => i === 2 || i === 3));
  assert.equal(one[2].key, one[2].press + 13);
  assert.match(one[3].label, /^Unit 1, zone 4: \d+ % \(press \d+ %\)$/);
  assert.match(await page.textContent('#zone-readout'), /Unit 1, zones 3–4/);
  await page.click('#zone-undo');
  one = await zonesOf(page, 1);
  assert.ok(one.every((z) => !z.pending && z.key === z.press));
  // Unit 2 with the mouse: zone 5 clicked, zone 7 shift-clicked, raised 1 %
  // with a key and set to 40 % by typing, then zone 6 raised 5 % more.
  const zone = async (n, z) => page.locator(`${unit(n)} .bars .zone`).nth(z - 1);
  await (await zone(2, 5)).click();
  await (await zone(2, 7)).click({ modifiers: ['Shift'] });
  await page.keyboard.press('+');
  await page.fill('#zone-value', '40');
  await page.press('#zone-value', 'Enter');
  await (await zone(2, 6)).click();
  await page.click('#zone-editor .zone-step[data-step="5"]');
  const raw40 = Math.round(40 * 255 / 100);
  const want = before.map((z, i) => (i === 4 || i === 6 ? raw40 : i === 5 ? raw40 + 13 : z.press));
  const edited = await zonesOf(page, 2);
  assert.deepEqual(edited.map((z) => z.key), want);
  assert.deepEqual(edited.map((z) => z.pending), want.map((v, i) => v !== before[i].press));
  assert.equal(edited[5].label, `Unit 2, zone 6: ${Math.round((raw40 + 13) * 100 / 255)} % (press ${Math.round(before[5].press * 100 / 255)} %)`);
  await page.screenshot({ path: join(artefactFolder(), 'console-zones-pending.png') });
  // Applied to units 1 and 2: only unit 2 has changes.
  await select(page, [1, 2]);
  const sent = valuesAfter(consoleFrames(folder), 'SetKeys', 2).length;
  await page.click('#ductor-apply');
  const frame = await waitFrames(folder, 'the key frame for unit 2',
    (frames) => valuesAfter(frames, 'SetKeys', 2)[sent]);
  assert.deepEqual(frame.bytes, [...want, checksum(want)]);
  // The page shows the row read back from the press, nothing pending.
  await page.waitForFunction((w) => {
    const zones = [...document.querySelectorAll('#units .unit[data-unit="2"] .bars .zone')];
    return zones.map((z) => +z.dataset.press).join(',') === w.join(',') &&
      zones.every((z) => !z.classList.contains('is-pending'));
  }, want, { timeout: 60000 });
  const frames = consoleFrames(folder);
  assert.equal(valuesAfter(frames, 'SetKeys', 2).length, sent + 1, 'one key frame for unit 2');
  assert.equal(valuesAfter(frames, 'SetKeys', 1).length, 0, 'nothing for unit 1');
  assert.equal(await page.evaluate(() => host.setUnitKeys(2, '1,2,300')), undefined);
});

browserTest('the simulated press keeps its keys, ductors and cycles over a restart', async (t) => {
  const folder = tempFolder(t, 'tsr-demo-');
  const first = await startDemo(t, { folder });
  let page = await openConsole(t, first.host);
  await select(page, [3]);
  await enter(page, `${unit(3)} .ductor-input`, 35);
  await page.focus(`${unit(3)} .bars`);
  await page.keyboard.press('PageUp');
  await page.click('#ductor-apply');
  await page.waitForFunction(() => {
    const u = document.querySelector('#units .unit[data-unit="3"]');
    return u.querySelector('.ductor-note').textContent.startsWith('Press: 35') &&
      u.querySelector('.bars .zone').dataset.press === '13';
  }, null, { timeout: 60000 });
  await page.context().close();
  await first.host.stop('SIGTERM');
  const second = await startDemo(t, { folder });
  page = await openConsole(t, second.host);
  await page.waitForFunction(() => {
    const u = document.querySelector('#units .unit[data-unit="3"]');
    const zone = u.querySelector('.bars .zone');
    return u.querySelector('.ductor-note').textContent.startsWith('Press: 35') && zone && zone.dataset.press === '13';
  }, null, { timeout: 60000 });
});

// Every press size at both screen sizes: each unit's controls and profile in
// reach without sideways scrolling, memory and messages in view, no overlap.
const PRESS_SIZES = [[1, 32], [1, 64], [6, 32], [6, 64], [8, 32], [8, 64], [12, 32], [12, 64]];
const SCREENS = [[1366, 768], [1920, 1080]];

browserTest('every press size fits both screens: reachable, visible, nothing overlapping, axe clean', async (t) => {
  const axeSource = readFileSync(new URL(import.meta.resolve('axe-core/axe.min.js')), 'utf8');
  const problems = [];
  for (const [units, keys] of PRESS_SIZES) {
    const folder = tempFolder(t, 'tsr-demo-');
    mkdirSync(join(folder, 'storage'), { recursive: true });
    writeFileSync(join(folder, 'storage', 'Tessaro.ini'), ['[GENERAL]', 'COM1=1', `UnitNumber=${units}`,
      `KeysNumber=${keys}`, 'Perfector=0', 'DuctorCycle=3', 'ConnectPSX=0', 'ConnectLPX=0', 'Language=en',
      `PathLogs=${join(folder, 'log')}`].join('\r\n') + '\r\n');
    const { host } = await startDemo(t, { folder });
    const page = await openConsole(t, host, { units });
    await page.waitForFunction(([n, k]) => [...document.querySelectorAll('#units .unit .bars')]
      .filter((b) => b.childElementCount === k).length === n, [units, keys], { timeout: 60000 });
    for (const [width, height] of SCREENS) {
      const where = `${units} units, ${keys} keys, ${width}×${height}`;
      await page.setViewportSize({ width, height });
      await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
      const found = await page.evaluate(() => {
        const out = [];
        const box = (el) => el.getBoundingClientRect();
        const overlap = (a, b) => a.left < b.right - 0.5 && b.left < a.right - 0.5 && a.top < b.bottom - 0.5 && b.top < a.bottom - 0.5;
        const shown = (el) => el && el.checkVisibility() && box(el).width > 0;
        const doc = document.documentElement;
        if (doc.scrollWidth > doc.clientWidth) out.push('the page scrolls sideways');
        const unitsBox = document.getElementById('units');
        if (unitsBox.scrollWidth > unitsBox.clientWidth + 1) out.push('the units scroll sideways');
        const area = box(unitsBox);
        const inView = (el, name) => {
          const r = box(el);
          if (!shown(el) || r.left < 0 || r.top < 0 || r.right > innerWidth + 0.5 || r.bottom > innerHeight + 0.5) out.push(name + ' not in view');
        };
        for (const id of ['memory-list', 'messages-heading', 'zone-editor', 'set-working', 'ductor-apply', 'copy-unit']) inView(document.getElementById(id), id);
        if (box(document.querySelector('.messages')).height < 60) out.push('no room for messages');
        const blocks = ['units', 'zone-editor'].map((id) => document.getElementById(id))
          .concat([document.querySelector('.commands'), document.querySelector('.copy-row'), document.querySelector('.side')]);
        blocks.forEach((a, i) => blocks.slice(i + 1).forEach((b) => { if (overlap(box(a), box(b))) out.push(`${a.className} overlaps ${b.className}`); }));
        const columns = [...unitsBox.querySelectorAll('.unit')];
        columns.forEach((a, i) => columns.slice(i + 1).forEach((b) => { if (overlap(box(a), box(b))) out.push(`unit ${a.dataset.unit} overlaps unit ${b.dataset.unit}`); }));
        for (const u of columns) {
          const parts = ['.unit-select', '.unit-status', '.profile', '.field-ductor', '.field-cycle', '.field-keys']
            .map((s) => u.querySelector(s)).filter(shown);
          if (parts.length !== 6) out.push(`unit ${u.dataset.unit}: a control is missing`);
          for (const p of parts) {
            const r = box(p);
            if (r.left < area.left - 0.5 || r.right > area.right + 0.5) out.push(`unit ${u.dataset.unit}: ${p.className} out of reach`);
          }
          parts.forEach((a, i) => parts.slice(i + 1).forEach((b) => { if (overlap(box(a), box(b))) out.push(`unit ${u.dataset.unit}: ${a.className} overlaps ${b.className}`); }));
          const zones = [...u.querySelectorAll('.bars .zone')];
          if (zones.some((z) => box(z).width < 3)) out.push(`unit ${u.dataset.unit}: zones narrower than 3 px`);
        }
        return out;
      });
      problems.push(...found.map((p) => `${where}: ${p}`));
      await page.screenshot({ path: join(artefactFolder(), `console-${units}u-${keys}k-${width}x${height}.png`) });
      await page.addScriptTag({ content: axeSource });
      const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
        .filter((v) => v.impact === 'serious' || v.impact === 'critical')
        .map((v) => `${v.id}: ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(' | ')}`));
      problems.push(...violations.map((v) => `${where}: axe ${v}`));
    }
    await page.context().close();
    await host.stop('SIGTERM');
  }
  assert.deepEqual(problems, []);
});

browserTest('the settings say when the log folder is missing and make it', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await page.click('#open-settings');
  // The demo's log folder is there.
  assert.equal(await page.isHidden('#log-folder-missing'), true);
  const wanted = join(folder, 'shared', 'press-log');
  await enter(page, '#folder-log_path', wanted);
  await page.waitForSelector('#log-folder-missing', { state: 'visible' });
  assert.match(await page.textContent('#log-folder-missing'), /no log, no job memory and no backups/);
  assert.equal(existsSync(wanted), false);
  await page.click('#log-folder-create');
  await page.waitForSelector('#log-folder-missing', { state: 'hidden' });
  assert.equal(existsSync(join(wanted, 'Memory')), true);
  // A folder that cannot be made stays reported.
  writeFileSync(join(folder, 'a-file'), '');
  await enter(page, '#folder-log_path', join(folder, 'a-file', 'log'));
  await page.click('#log-folder-create');
  assert.equal(await page.isVisible('#log-folder-missing'), true);
});

// What changes whole units at once is asked first: cancelled, nothing reaches
// the console; confirmed, the command does.
const ASKED_FIRST = [
  ['zero position', '#set-zero', /Units 2 go to their zero position/],
  ['ink-up', '#ink-up', /not put back afterwards/],
  ['copy', '#copy-unit', /unit 2 are replaced by those of unit 1/],
  ['swap', '#swap-unit', /exchanged/],
];

browserTest('zero position, ink-up, copy and swap ask first', async (t) => {
  const { host, folder } = await startDemo(t);
  const page = await openConsole(t, host);
  await select(page, [2]);
  const writes = () => consoleFrames(folder).filter((f) => f.kind === 'command' && f.unit === 2 &&
    !f.name.startsWith('Get')).length;
  // The command before has sent everything: nothing new for a while, the unit at rest.
  const settled = async () => {
    let last = -1, since = Date.now();
    await until('the console at rest', async () => {
      const n = writes();
      if (n !== last) { last = n; since = Date.now(); return false; }
      const progress = await page.getAttribute(unit(2), 'data-progress');
      return Date.now() - since > 1500 && !['queued', 'start', 'copying'].includes(progress);
    });
  };
  for (const [what, button, text] of ASKED_FIRST) {
    await settled();
    const before = writes();
    await page.click(button);
    await page.waitForSelector('#confirm-dialog[open]');
    assert.match(await page.textContent('#confirm-text'), text, what);
    await page.click('#confirm-dialog .dialog-close');
    // Nothing was sent: a refresh's reads go out after anything the command would have sent.
    const reads = commands(consoleFrames(folder), 'GetDuctor').length;
    await page.click('#production-refresh');
    await waitFrames(folder, 'a refresh', (frames) => commands(frames, 'GetDuctor').length >= reads + 6);
    assert.equal(writes(), before, `${what} cancelled`);
    await page.click(button);
    await page.click('#confirm-ok');
    await waitFrames(folder, `${what} sent to unit 2`, () => writes() > before);
  }
  // Ended here, so that nothing is still writing into the demo folder when it goes.
  await settled();
  await host.stop('SIGTERM');
});
