// The console against the simulated press: `tessaro --simulate` with a demo
// folder of its own, the frames its console.log shows, and the operator page.
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { startHost, tempFolder, until, waitShown } from './host.mjs';

// Units and keys of the simulated press.
export const UNITS = 6;
export const KEYS = 32;

// Starts the host on a fresh demo folder; movements take movementMs; faults
// are the simulated console's fault options ('--silent-unit', '3', …).
export async function startDemo(t, { movementMs = 150, folder = tempFolder(t, 'tsr-demo-'), faults = [] } = {}) {
  const host = await startHost(t, ['--simulate', '--demo', folder, '--movement-ms', String(movementMs), ...faults]);
  return { host, folder };
}

// The frames the console took, from its trace: every received chunk is cut into
// the frames the console's own notes name, so each frame has its exact bytes.
//   {kind: 'command', name, unit, byte2, bytes, note} or {kind: 'value', name, unit, bytes, note}
export function consoleFrames(folder) {
  const file = join(folder, 'console.log');
  if (!existsSync(file)) return [];
  const pending = [];
  const frames = [];
  const take = (n, note) => {
    if (pending.length < n) throw new Error(`console.log: "${note}" names ${n} bytes, ${pending.length} received`);
    return pending.splice(0, n);
  };
  for (const line of readFileSync(file, 'utf8').split('\n')) {
    const chunk = /^\s*\d+\.\d+ (<-|->) ([0-9A-F]{2}(?: [0-9A-F]{2})*)/.exec(line);
    if (chunk) {
      if (chunk[1] === '<-') pending.push(...chunk[2].split(' ').map((h) => parseInt(h, 16)));
      continue;
    }
    const note = /^\s*\d+\.\d+ {4}(.*)$/.exec(line);
    if (!note) continue;
    const text = note[1];
    let m;
    if ((m = /^value frame of (\d+) for (\w+) u(\d+)/.exec(text))) {
      frames.push({ kind: 'value', name: m[2], unit: +m[3], bytes: take(+m[1] + 1, text), note: text });
    } else if ((m = /^(\w+) u(\d+) \(byte 2: (\d+)\)/.exec(text)) || (m = /^opcode ([0-9A-F]{2}) u(\d+)/.exec(text))) {
      frames.push({ kind: 'command', name: m[1], unit: +m[2], byte2: m[3] === undefined ? null : +m[3], bytes: take(4, text), note: text });
    } else if (/^frame [0-9A-F ]+: bad checksum/.test(text)) {
      frames.push({ kind: 'bad', bytes: take(4, text), note: text });
    } else if ((m = /^partial frame of (\d+) bytes dropped/.exec(text))) {
      take(+m[1], text);
    }
  }
  return frames;
}

// Waits until select(frames) gives something truthy, and returns it.
export function waitFrames(folder, what, select, options) {
  return until(what, () => select(consoleFrames(folder)), options);
}

// The checksum of a command frame or value frame: 0xFF minus the byte sum.
export function checksum(bytes) {
  return (0xff - (bytes.reduce((a, b) => a + b, 0) & 0xff)) & 0xff;
}

// Ductor percent as the library puts it on the line.
export function ductorWire(percent) {
  return Math.min(Math.floor(percent * 256 / 100), 255);
}

export function readIni(folder) {
  const values = {};
  for (const line of readFileSync(join(folder, 'storage', 'Tessaro.ini'), 'utf8').split(/\r?\n/)) {
    const m = /^([^=[\]]+)=(.*)$/.exec(line);
    if (m) values[m[1]] = m[2];
  }
  return values;
}

// The operator page, once it runs: units built, the press read, the link online.
export async function openConsole(t, host, { units = UNITS } = {}) {
  const page = await t.openPage();
  await page.goto(host.url);
  await waitRunning(page, units);
  return page;
}

export async function waitRunning(page, units = UNITS) {
  await waitShown(page);
  await page.waitForFunction((n) => {
    const columns = document.querySelectorAll('#units .unit');
    return columns.length === n && document.getElementById('link-state').dataset.state === 'online' &&
      [...columns].every((c) => c.querySelector('.ductor-input').value !== '' &&
        !c.querySelector('.ductor-note').textContent.includes('–'));
  }, units, { timeout: 90000 });
}

export const unit = (n) => `#units .unit[data-unit="${n}"]`;

export async function progressOf(page, n) {
  return page.getAttribute(unit(n), 'data-progress');
}

export async function waitProgress(page, units, progress) {
  await page.waitForFunction(([list, p]) =>
    list.every((n) => document.querySelector(`#units .unit[data-unit="${n}"]`).dataset.progress === p),
  [units, progress], { timeout: 90000 });
}

// Types a value into a unit field and leaves it, as an operator does.
export async function enter(page, selector, value) {
  await page.fill(selector, String(value));
  await page.press(selector, 'Tab');
}

// Selects exactly these units, as the operator does: None, then each unit.
export async function select(page, units) {
  await page.click('#select-none');
  for (const n of units) await page.click(`${unit(n)} .unit-select`);
  await page.waitForFunction((text) => host.selectedUnits === text, units.join(','), { timeout: 60000 });
}
