// Starts the built host program and headless Chromium for the browser tests.
// TSR_HOST names the program; TSR_CHROMIUM the browser (Debian's, never a download).
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { request as httpRequest } from 'node:http';
import { mkdtempSync, mkdirSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve as resolvePath } from 'node:path';
import { after, test } from 'node:test';
import { chromium } from 'playwright-core';

export const HOST = process.env.TSR_HOST && resolvePath(process.env.TSR_HOST);
export const CHROMIUM = process.env.TSR_CHROMIUM || '/usr/bin/chromium';
if (!HOST) throw new Error('TSR_HOST must name the built tessaro program');

// Where screenshots and other test artefacts go (the build folder, never the sources).
export function artefactFolder() {
  const folder = process.env.TSR_ARTEFACTS || join(tmpdir(), 'tessaro-e2e-artefacts');
  mkdirSync(folder, { recursive: true });
  return folder;
}

// Hosts started and not yet ended.
const runningHosts = new Set();

// A fresh temporary folder, removed when the test ends. The test's hosts are
// stopped first: a host still writing its log, trace or press state into the
// folder would make the removal fail and leave the host running.
export function tempFolder(t, prefix = 'tsr-e2e-') {
  const folder = mkdtempSync(join(tmpdir(), prefix));
  t.after(async () => {
    for (const host of [...runningHosts]) await host.stop('SIGTERM').catch(() => {});
    rmSync(folder, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
  });
  return folder;
}


// Waits for a condition on the Node side; the machine may be slow, so waits are long.
export async function until(what, condition, { timeout = 60000, interval = 50 } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, interval));
  }
}

// One running host. Its standard output's first line is the page address.
export class HostProcess {
  constructor(child) {
    this.child = child;
    this.stdoutLines = [];
    this.stderrText = '';
    this.exit = new Promise((resolve) => {
      child.on('exit', (code, signal) => resolve({ code, signal }));
    });
    this.exited = null;
    runningHosts.add(this);
    this.exit.then((result) => { this.exited = result; runningHosts.delete(this); });
    let partial = '';
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => {
      partial += chunk;
      const lines = partial.split('\n');
      partial = lines.pop();
      this.stdoutLines.push(...lines);
    });
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (chunk) => { this.stderrText += chunk; });
  }

  // The first line, once it is there.
  async address({ timeout = 60000 } = {}) {
    await until('the page address on standard output', () => {
      if (this.exited) throw new Error('the host ended before printing its address: ' + JSON.stringify(this.exited) + '\n' + this.stderrText);
      return this.stdoutLines.length > 0;
    }, { timeout });
    const url = new URL(this.stdoutLines[0]);
    this.url = url.href;
    this.port = Number(url.port);
    // The address is good for one load: it trades its token for the session cookie.
    this.token = url.pathname.split('/')[1];
    return this.url;
  }

  // The session as a browser gets it: the token traded for the cookie (once,
  // from here unless a page has done it), the page's own path and address.
  async session() {
    if (!this.cookie) {
      const reply = await rawRequest(this.port, { path: new URL(this.url).pathname });
      if (reply.status !== 303) throw new Error('the token was not taken: ' + reply.status);
      this.takeSession(new URL(reply.headers.location, this.url).href, reply.headers['set-cookie'][0]);
    }
    return { cookie: this.cookie, pagePath: this.pagePath, pageUrl: this.pageUrl };
  }

  takeSession(pageUrl, setCookie) {
    this.pageUrl = pageUrl;
    this.pagePath = new URL(pageUrl).pathname.replace(/index\.html$/, '');
    this.base = new URL(this.pagePath, pageUrl).href;
    this.cookie = setCookie.split(';')[0];
    const [name, value] = this.cookie.split('=');
    this.cookieObject = { name, value, domain: '127.0.0.1', path: this.pagePath, httpOnly: true, sameSite: 'Strict' };
  }

  // Sends the signal and waits for the end; a host that does not end is killed.
  async stop(signal = 'SIGINT', { timeout = 30000 } = {}) {
    if (this.exited) return this.exited;
    this.child.kill(signal);
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(() => resolve(null), timeout); });
    const result = await Promise.race([this.exit, late]);
    clearTimeout(timer);
    if (result) return result;
    this.child.kill('SIGKILL');
    await this.exit;
    throw new Error(`the host did not end within ${timeout} ms of ${signal}`);
  }
}

// Starts the host with --no-browser and the given arguments; it is stopped when
// the test ends. It runs in a fresh folder: relative paths of a default
// configuration (the log folder "log") land there, not in the sources.
// user ({uid, gid}) runs it as another user of the machine.
export async function startHost(t, args, { env = {}, cwd = tempFolder(t, 'tsr-cwd-'), user = {} } = {}) {
  const child = spawn(HOST, ['--no-browser', ...args], {
    cwd,
    env: { ...process.env, ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
    ...user,
  });
  const host = new HostProcess(child);
  // A host that does not end on SIGTERM is killed, and the test fails.
  t.after(() => host.stop('SIGTERM'));
  await host.address();
  return host;
}

// One raw HTTP request; the path goes out exactly as given (no normalising).
export function rawRequest(port, { method = 'GET', path, headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = httpRequest({ host: '127.0.0.1', port, method, path, agent: false, headers: { Host: `127.0.0.1:${port}`, ...headers } },
      (res) => {
        let text = '';
        res.setEncoding('utf8');
        res.on('data', (chunk) => { text += chunk; });
        res.on('end', () => resolve({ status: res.statusCode, text, headers: res.headers }));
      });
    req.on('error', reject);
    if (body !== undefined) req.end(typeof body === 'string' ? body : JSON.stringify(body));
    else req.end();
  });
}

// Opens the host's page: the first page takes the address's token; later
// pages (other contexts) are given the session cookie as a reload would have it.
export async function gotoHost(page, host) {
  if (!host.cookie) {
    await page.goto(host.url);
    const [cookie] = (await page.context().cookies()).filter((c) => c.name === 'tsr_session');
    if (!cookie) throw new Error('the page got no session cookie');
    host.takeSession(page.url(), `${cookie.name}=${cookie.value}`);
  } else {
    await page.context().addCookies([host.cookieObject]);
    await page.goto(host.pageUrl);
  }
}

let browser = null;

// One headless Chromium per test file, closed when the file's tests are done.
export async function sharedBrowser() {
  if (!browser) {
    browser = await chromium.launch({
      executablePath: CHROMIUM,
      args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
    });
  }
  return browser;
}

after(async () => {
  if (browser) await browser.close().catch(() => {});
});

// A test that opens pages: each page has a context of its own, dialogs (the
// host's modal messages) are recorded and closed and fail the test unless it
// sets page.allowDialogs, and a failing test leaves a screenshot of every page
// it opened among the artefacts.
export function browserTest(name, body, options = {}) {
  const stem = name.replace(/[^A-Za-z0-9]+/g, '-').replace(/^-|-$/g, '').slice(0, 80);
  test(name, { timeout: 240000, ...options }, async (t) => {
    // A screenshot of an earlier failure must not be taken for this run's.
    for (const file of readdirSync(artefactFolder())) {
      if (file.startsWith(`failed-${stem}-`)) rmSync(join(artefactFolder(), file), { force: true });
    }
    const pages = [];
    t.openPage = async ({ viewport = { width: 1280, height: 800 } } = {}) => {
      const context = await (await sharedBrowser()).newContext({ viewport });
      const page = await context.newPage();
      page.dialogs = [];
      page.errors = [];
      page.on('dialog', (dialog) => {
        page.dialogs.push(dialog.message());
        dialog.accept().catch(() => {});
      });
      page.on('pageerror', (error) => page.errors.push(error.message));
      pages.push(page);
      return page;
    };
    try {
      await body(t);
      // The page's script ran without an uncaught error and wrote nothing to
      // the console (the host would have shown it as a modal box).
      for (const page of pages) {
        assert.deepEqual(page.errors, [], 'uncaught errors in the page');
        if (!page.allowDialogs) assert.deepEqual(page.dialogs, [], 'modal boxes in the page');
      }
    } catch (error) {
      for (const [i, page] of pages.entries()) {
        await page.screenshot({ path: join(artefactFolder(), `failed-${stem}-${i}.png`) }).catch(() => {});
      }
      throw error;
    } finally {
      for (const page of pages) await page.context().close().catch(() => {});
    }
  });
}

// Waits for the host's load-end: the ring gives way to the page.
export async function waitShown(page) {
  await page.waitForFunction(() => document.documentElement.classList.contains('tsr-shown'), null, { timeout: 60000 });
}
