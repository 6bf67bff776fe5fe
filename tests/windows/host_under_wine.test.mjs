// tessaro.exe under Wine with --simulate --no-browser, its page in Linux
// Chromium over loopback: the start sequence reads the units from the
// simulated console on its named pipe, a unit operation reaches it, and a job
// saved to memory comes back with its description after a reload.
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { browserTest, tempFolder } from '../e2e/lib/host.mjs';
import {
  KEYS, UNITS, consoleFrames, openConsole, select, startDemo, unit, waitFrames, waitProgress, waitRunning,
} from '../e2e/lib/demo.mjs';

browserTest('the Windows host: units read from the simulated press, working position reaches it, a job saved', async (t) => {
  const folder = tempFolder(t, 'tsr-wine-demo-');
  // What the press holds at the start: unit 2's keys as a ramp.
  const ramp = Array.from({ length: KEYS }, (_, i) => (i * 7) % 256);
  writeFileSync(join(folder, 'press.txt'), `2 0 3 ${ramp.join(',')}\n`);
  const { host } = await startDemo(t, { folder, movementMs: 100 });
  const page = await openConsole(t, host);
  assert.equal(await page.$$eval('#units .unit', (u) => u.length), UNITS);
  await page.waitForFunction(([sel, want]) => {
    const shown = [...document.querySelectorAll(sel)].map((z) => +z.dataset.press);
    return shown.join(',') === want.join(',');
  }, [`${unit(2)} .bars .zone`, ramp], { timeout: 60000 });
  const frames = consoleFrames(folder);
  assert.ok(frames.some((f) => f.kind === 'command' && f.name === 'GetKeys' && f.unit === 2),
    'keys read from unit 2; the console\'s trace begins:\n' + readFileSync(join(folder, 'console.log'), 'utf8').slice(0, 800));

  await select(page, [1]);
  await page.click('#set-working');
  await waitProgress(page, [1], 'done');
  await waitFrames(folder, 'WorkingPosition for unit 1',
    (all) => all.some((f) => f.kind === 'command' && f.name === 'WorkingPosition' && f.unit === 1));

  // The description passes the library in the system's code page and comes
  // back as the page wrote it.
  const description = 'Müller – Umschlag 4/4 · 2. Auflage';
  await page.click('.memory-slot[data-slot="0"] .memory-save');
  await page.fill('#memory-desc', description);
  await page.click('#memory-confirm');
  await page.waitForFunction(() => [...document.querySelectorAll('.message-text')]
    .some((m) => m.textContent === 'Job saved to memory 1.'), null, { timeout: 60000 });
  await page.reload();
  await waitRunning(page);
  await page.waitForFunction((d) =>
    document.querySelector('.memory-slot[data-slot="0"] .memory-desc').textContent === d, description, { timeout: 60000 });
  assert.equal(await page.getAttribute('.memory-slot[data-slot="0"]', 'data-state'), 'job');
});
