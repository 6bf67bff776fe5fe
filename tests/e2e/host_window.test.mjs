// The host with its own browser window: Debian's chromium, headless, started by
// the host with its DevTools pipe. The test reaches the same browser on a port
// of its own (added by the stand-in browser command) to look at the window and
// act as the operator: minimise it, close it.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, readdirSync, readlinkSync, symlinkSync, unlinkSync, writeFileSync, chmodSync } from 'node:fs';
import { hostname } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { chromium } from 'playwright-core';
import { CHROMIUM, HOST, HostProcess, tempFolder, until } from './lib/host.mjs';

// The browser command the host runs: the real browser, headless unless it is
// to show a window on a desktop, with a port for the test.
function browserCommand(t, { headless = true } = {}) {
  const file = join(tempFolder(t), 'browser.sh');
  writeFileSync(file, `#!/bin/sh\nexec ${CHROMIUM}${headless ? ' --headless=new' : ''} --no-sandbox --disable-gpu --disable-dev-shm-usage --remote-debugging-port=0 "$@"\n`);
  chmodSync(file, 0o755);
  return file;
}

// The running process ids whose command line holds text.
function processesWith(text) {
  const found = [];
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      if (stat.slice(stat.lastIndexOf(')') + 2)[0] === 'Z') continue;
      if (readFileSync(`/proc/${entry}/cmdline`, 'utf8').includes(text)) found.push(Number(entry));
    } catch { /* gone meanwhile */ }
  }
  return found;
}

class WindowedHost {
  constructor(t, storage, browser, extraEnv = {}) {
    this.storage = storage;
    this.env = { ...process.env, DISPLAY: process.env.DISPLAY || ':0', TSR_BROWSER: browser, TESSARO_SERIAL_DIR: tempFolder(t), ...extraEnv };
    this.host = WindowedHost.spawn(this.env, storage);
    t.after(async () => {
      if (this.cdp) await this.cdp.close().catch(() => {});
      await this.host.stop('SIGTERM').catch(() => {});
    });
  }

  static spawn(env, storage) {
    return new HostProcess(spawn(HOST, ['--storage', storage], { env, stdio: ['ignore', 'pipe', 'pipe'] }));
  }

  profile() {
    const name = existsSync(this.storage) && readdirSync(this.storage).find((n) => /^Browser-[0-9a-f]{16}$/.test(n));
    return name ? join(this.storage, name) : null;
  }

  // The host's window once its page shows, reached over the test's own port.
  async window({ profile } = {}) {
    const portFile = await until('the browser of the host', () => {
      if (this.host.exited) throw new Error('the host ended: ' + JSON.stringify(this.host.exited) + '\n' + this.host.stderrText);
      const folder = profile ? profile() : this.profile();
      const file = folder && join(folder, 'DevToolsActivePort');
      return file && existsSync(file) && readFileSync(file, 'utf8').includes('\n') ? file : null;
    });
    const port = Number(readFileSync(portFile, 'utf8').split('\n')[0]);
    this.cdp = await chromium.connectOverCDP(`http://127.0.0.1:${port}`).catch((error) => {
      throw new Error(`${error.message}\nthe host: ${JSON.stringify(this.host.exited)}\n${this.host.stderrText}`);
    });
    const page = await until('the app page', () => this.cdp.contexts().flatMap((c) => c.pages()).find((p) => p.url().startsWith('http://127.0.0.1')));
    // Looked at while the first load is sent on to the page's own address: the document may not be there yet.
    await page.waitForFunction(() => document.documentElement !== null && document.documentElement.classList.contains('tsr-shown'),
      null, { timeout: 60000 });
    const session = await this.cdp.newBrowserCDPSession();
    const { targetInfo } = await (await page.context().newCDPSession(page)).send('Target.getTargetInfo');
    const { windowId } = await session.send('Browser.getWindowForTarget', { targetId: targetInfo.targetId });
    const state = async () => (await session.send('Browser.getWindowBounds', { windowId })).bounds.windowState;
    return { page, session, windowId, state };
  }
}

test('a second start restores the minimised window and brings it to the front', { timeout: 180000 }, async (t) => {
  const storage = tempFolder(t);
  const first = new WindowedHost(t, storage, browserCommand(t));
  const { session, windowId, state } = await first.window();
  assert.equal(first.host.stdoutLines.length, 0, 'with a window the address is not printed');
  await session.send('Browser.setWindowBounds', { windowId, bounds: { windowState: 'minimized' } });
  assert.equal(await state(), 'minimized');
  const second = WindowedHost.spawn(first.env, storage);
  assert.deepEqual(await second.exit, { code: 0, signal: null });
  assert.deepEqual(second.stdoutLines, ['Tessaro Control is already running; its window is brought to the front.'], second.stderrText);
  assert.notEqual(await state(), 'minimized');
  assert.equal(first.host.exited, null);
});

test('closing the window ends the host and its browser', { timeout: 180000 }, async (t) => {
  const first = new WindowedHost(t, tempFolder(t), browserCommand(t));
  const { page } = await first.window();
  const profile = first.profile();
  await page.close();
  await until('the host to end', () => first.host.exited, { timeout: 30000 });
  assert.deepEqual(first.host.exited, { code: 0, signal: null });
  await until('the browser to end', () => processesWith(`--user-data-dir=${profile}`).length === 0, { timeout: 20000 });
});

test('the browser ending ends the host', { timeout: 180000 }, async (t) => {
  const first = new WindowedHost(t, tempFolder(t), browserCommand(t));
  await first.window();
  const profile = first.profile();
  const [browserPid] = readlinkSync(join(profile, 'SingletonLock')).match(/\d+$/).map(Number);
  process.kill(browserPid, 'SIGKILL');
  assert.deepEqual(await first.host.exit, { code: 0, signal: null });
});

// What a host that was killed leaves: its browser still running with the
// profile and holding its lock. The next start must not hand its window to
// that browser and end at once.
test('a browser left running with the profile is ended and the host opens its own window', { timeout: 180000 }, async (t) => {
  const storage = tempFolder(t);
  const browser = browserCommand(t);
  // The first run names the profile folder.
  const first = new WindowedHost(t, storage, browser);
  await first.window();
  const profile = first.profile();
  await first.cdp.close();
  await first.host.stop('SIGTERM');
  const portFile = join(profile, 'DevToolsActivePort');
  unlinkSync(portFile);
  const leftover = spawn(browser, [`--user-data-dir=${profile}`, '--app=about:blank', '--no-first-run'], { stdio: 'ignore' });
  t.after(() => { try { leftover.kill('SIGKILL'); } catch { /* ended */ } });
  const lock = join(profile, 'SingletonLock');
  // The lock names "hostname-pid" and points nowhere, so it is read, not followed.
  const holder = () => { try { return readlinkSync(lock); } catch { return ''; } };
  await until('the left-over browser to lock the profile', () => holder().startsWith(hostname() + '-'));
  const leftoverPid = Number(holder().match(/(\d+)$/)[1]);
  // Its port is not the next window's.
  await until('the left-over browser\'s port', () => existsSync(portFile));
  unlinkSync(portFile);

  const next = new WindowedHost(t, storage, browser);
  const { page } = await next.window();
  assert.equal(next.host.exited, null);
  assert.ok(!processesWith(`--user-data-dir=${profile}`).includes(leftoverPid), 'the left-over browser was ended');
  assert.match(next.host.stderrText, /ended a browser left running with the profile/);
  assert.ok(page.url().startsWith('http://127.0.0.1'));
});

// A profile locked by a browser on another computer (a storage folder on a
// share) is not ours to end: this run uses a fresh profile, removed at its end.
test('a profile locked from another computer: the window opens with a fresh profile', { timeout: 180000 }, async (t) => {
  const storage = tempFolder(t);
  const browser = browserCommand(t);
  const first = new WindowedHost(t, storage, browser);
  await first.window();
  const profile = first.profile();
  await first.cdp.close();
  await first.host.stop('SIGTERM');
  symlinkSync('press-pc-2-4242', join(profile, 'SingletonLock'));

  const next = new WindowedHost(t, storage, browser);
  const fresh = () => readdirSync(storage).map((n) => join(storage, n)).find((p) => p.startsWith(profile + '-'));
  await next.window({ profile: fresh });
  assert.match(next.host.stderrText, /is locked by press-pc-2-4242, not a browser on this computer/);
  assert.equal(readlinkSync(join(profile, 'SingletonLock')), 'press-pc-2-4242', 'the other computer\'s lock is left alone');
  const folder = fresh();
  await next.cdp.close();
  assert.deepEqual(await next.host.stop('SIGTERM'), { code: 0, signal: null });
  assert.ok(!existsSync(folder), 'the fresh profile is removed');
});

// A desktop of the test's own: a virtual X display with a window manager, as
// an operator's session has one. What the window manager says of a window is
// read with xprop and xdotool.
const DESKTOP_TOOLS = ['Xvfb', 'openbox', 'xdotool', 'xprop', 'xmessage'];
const missingTool = DESKTOP_TOOLS.find((tool) => {
  try { execFileSync('sh', ['-c', `command -v ${tool}`], { stdio: 'ignore' }); return false; } catch { return true; }
});

async function startDesktop(t) {
  const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1366x768x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const children = [server];
  t.after(() => { for (const child of children.reverse()) try { child.kill('SIGKILL'); } catch { /* ended */ } });
  let said = '';
  server.stdio[3].on('data', (chunk) => { said += chunk; });
  const display = ':' + (await until('the virtual display', () => /\d+\n/.test(said) && said.trim()));
  const env = { ...process.env, DISPLAY: display };
  children.push(spawn('openbox', [], { env, stdio: 'ignore' }));
  const x = (tool, ...args) => execFileSync(tool, args, { env, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
  await until('the window manager', () => { try { return x('xprop', '-root', '_NET_SUPPORTING_WM_CHECK').includes('window id'); } catch { return false; } });
  const active = () => { try { return x('xdotool', 'getactivewindow').trim(); } catch { return ''; } };
  const classOf = (id) => x('xprop', '-id', id, 'WM_CLASS');
  const hidden = (id) => x('xprop', '-id', id, '_NET_WM_STATE').includes('_NET_WM_STATE_HIDDEN');
  // Another program's window over the whole screen, with the focus.
  const cover = async () => {
    children.push(spawn('xmessage', ['-geometry', '1366x768+0+0', 'another program'], { env, stdio: 'ignore' }));
    return until('the other program to have the focus', () => { const id = active(); return id && classOf(id).includes('xmessage') && id; });
  };
  return { display, x, active, classOf, hidden, cover };
}

test('on a desktop: a second start brings the window back from behind another program and from minimised', {
  timeout: 180000, skip: missingTool && `${missingTool} is not installed`,
}, async (t) => {
  const desktop = await startDesktop(t);
  const storage = tempFolder(t);
  const first = new WindowedHost(t, storage, browserCommand(t, { headless: false }), { DISPLAY: desktop.display });
  await first.window();
  const window = await until('the window to have the focus', () => {
    const id = desktop.active();
    return id && desktop.classOf(id).includes('"Chromium"') && id;
  });
  const secondStart = async () => {
    const second = WindowedHost.spawn(first.env, storage);
    assert.deepEqual(await second.exit, { code: 0, signal: null }, second.stderrText);
    assert.deepEqual(second.stdoutLines, ['Tessaro Control is already running; its window is brought to the front.']);
  };

  // Behind another program's window.
  await desktop.cover();
  await secondStart();
  await until('the window in front again', () => desktop.active() === window, { timeout: 10000 });

  // Minimised by the operator, through the window manager, with the other program in front.
  const other = await desktop.cover();
  desktop.x('xdotool', 'windowminimize', window);
  await until('the window minimised', () => desktop.hidden(window), { timeout: 10000 });
  assert.equal(desktop.active(), other);
  await secondStart();
  await until('the window restored and in front', () => !desktop.hidden(window) && desktop.active() === window, { timeout: 10000 });
  assert.equal(first.host.exited, null);
});
