// Page <-> host latency in real headless Chromium against the real host with
// its simulated press: the round trip of a host call from the page, and the
// time from the host issuing a page call (ExecuteJS, the path every library
// event takes to the page) to the page function running.
//   node bench/host/page_latency.mjs <tessaro program> [samples]
// Needs playwright-core (tests/e2e/node_modules) and /usr/bin/chromium.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import readline from 'node:readline';

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, '../../tests/e2e/package.json'));
const { chromium } = require('playwright-core');

const program = process.argv[2];
const samples = Number(process.argv[3] || 300);
if (!program) {
  console.error('usage: node page_latency.mjs <tessaro program> [samples]');
  process.exit(2);
}

const demo = mkdtempSync(join(tmpdir(), 'tsr-bench-'));
const host = spawn(program, ['--simulate', '--demo', demo, '--no-browser', '--movement-ms', '50'],
                   { stdio: ['ignore', 'pipe', 'inherit'] });
const address = await new Promise((resolve, reject) => {
  readline.createInterface({ input: host.stdout }).once('line', resolve);
  host.once('exit', (code) => reject(new Error('host ended with ' + code)));
});

const browser = await chromium.launch({ executablePath: process.env.TSR_CHROMIUM || '/usr/bin/chromium',
                                        args: ['--no-sandbox', '--disable-gpu'] });
try {
  const page = await browser.newPage();
  await page.goto(address);
  await page.waitForFunction(() => window.tsrHostReady === true, null, { timeout: 30000 });
  // Let the start sequence and its first reads settle.
  await page.waitForTimeout(3000);
  const result = await page.evaluate(async (n) => {
    const median = (v) => { v.sort((a, b) => a - b); return v[Math.floor(v.length / 2)]; };
    const calls = [];
    for (let i = 0; i < n; ++i) {
      const t0 = performance.now();
      host.GetConfig('UnitNumber');
      calls.push(performance.now() - t0);
    }
    const deliveries = [];
    for (let i = 0; i < n; ++i) {
      const arrived = new Promise((resolve) => { window.__benchArrived = resolve; });
      const t0 = performance.now();
      host.ExecuteJS('window.__benchArrived(performance.now())');
      const t2 = await arrived;
      // From the page asking the host to issue a page call until that call runs:
      // an upper bound of the host's part, since it includes the request itself.
      deliveries.push(t2 - t0);
    }
    return { call: median(calls), delivery: median(deliveries), n };
  }, samples);
  console.log(`host call round trip, median of ${result.n}: ${result.call.toFixed(3)} ms`);
  console.log(`page call delivery, median of ${result.n}: ${result.delivery.toFixed(3)} ms`);
  console.log(`ratio to the 5 ms target: call ${(result.call / 5).toFixed(3)}, delivery ${(result.delivery / 5).toFixed(3)}`);
} finally {
  await browser.close();
  host.kill('SIGINT');
  await new Promise((resolve) => host.once('exit', resolve));
  rmSync(demo, { recursive: true, force: true });
}
