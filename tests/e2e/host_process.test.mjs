// The host as a process: its address on the first line, the requests it
// refuses, the real page's context menu, single instance and Ctrl-C.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { chmodSync, mkdirSync } from 'node:fs';
import { connect, createServer } from 'node:net';
import { join } from 'node:path';
import { test } from 'node:test';
import { HOST, HostProcess, browserTest, rawRequest, startHost, tempFolder, until, waitShown } from './lib/host.mjs';
import { openConsole, select, startDemo } from './lib/demo.mjs';

const raw = rawRequest;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A host call with the session's cookie.
const call = async (host, op, args, headers = {}, kind = 'call') => {
  const { cookie, pagePath } = await host.session();
  return raw(host.port, { method: 'POST', path: `${pagePath}~host/call`, body: { kind, op, args },
    headers: { 'Content-Type': 'application/json', Cookie: cookie, ...headers } });
};

test('the first line on standard output is the page address with its token; --port fixes the port', { timeout: 120000 }, async (t) => {
  const port = await freePort();
  const host = await startHost(t, ['--port', String(port), '--storage', tempFolder(t)]);
  assert.match(host.stdoutLines[0], new RegExp(`^http://127\\.0\\.0\\.1:${port}/[0-9a-f]{32}/index\\.html$`));
  // The first load trades the token for a cookie only this page's path gets, which scripts cannot read.
  const first = await raw(port, { path: `/${host.token}/index.html` });
  assert.equal(first.status, 303);
  const [setCookie] = first.headers['set-cookie'];
  const pagePath = first.headers.location.replace(/index\.html$/, '');
  assert.match(pagePath, /^\/[0-9a-f]+\/$/);
  assert.ok(!pagePath.includes(host.token), 'the page path is not the token');
  const attributes = setCookie.split(';').map((a) => a.trim());
  for (const attribute of ['HttpOnly', 'SameSite=Strict', `Path=${pagePath}`]) assert.ok(attributes.includes(attribute), attribute);
  const cookie = attributes[0];
  const page = await raw(port, { path: `${pagePath}index.html`, headers: { Cookie: cookie } });
  assert.equal(page.status, 200);
  // The bridge comes before the page's own script.
  const bridge = page.text.indexOf('XMLHttpRequest');
  assert.ok(bridge > 0 && bridge < page.text.indexOf('src="app.js"'), 'bridge script before app.js');
  assert.equal(page.headers['cache-control'], 'no-store');
  // The address read from the browser's command line is no use to anyone else now.
  const refused = [
    ['the token again', { path: `/${host.token}/index.html` }],
    ['the token with the cookie', { path: `/${host.token}/index.html`, headers: { Cookie: cookie } }],
    ['the page without the cookie', { path: `${pagePath}index.html` }],
    ['a host call without the cookie', { method: 'POST', path: `${pagePath}~host/call`, body: { op: 'ShowError', args: ['x'] } }],
    ['the stream without the cookie', { path: `${pagePath}~host/stream` }],
    ['another cookie', { path: `${pagePath}index.html`, headers: { Cookie: 'tsr_session=' + '0'.repeat(32) } }],
  ];
  for (const [what, req] of refused) {
    const reply = await raw(port, req);
    assert.equal(reply.status, 403, what);
    assert.ok(!reply.text.includes('XMLHttpRequest'), `${what}: no page served`);
  }
});

test('a second start of the same program says so, prints a fresh address and leaves the first running', { timeout: 120000 }, async (t) => {
  const host = await startHost(t, ['--storage', tempFolder(t)]);
  const { cookie, pagePath } = await host.session();
  const second = new HostProcess(spawn(HOST, ['--no-browser', '--storage', tempFolder(t)],
    { stdio: ['ignore', 'pipe', 'pipe'] }));
  const result = await second.exit;
  assert.deepEqual(result, { code: 0, signal: null });
  assert.equal(second.stdoutLines.length, 1, second.stdoutLines.join('\n'));
  const [, address] = second.stdoutLines[0].match(/^Tessaro Control is already running: (http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/index\.html)$/);
  // The running instance's address, good for one more browser.
  const url = new URL(address);
  assert.equal(Number(url.port), host.port);
  const fresh = await raw(host.port, { path: url.pathname });
  assert.equal(fresh.status, 303);
  assert.equal((await raw(host.port, { path: url.pathname })).status, 403);
  assert.equal((await raw(host.port, { path: `${pagePath}index.html`, headers: { Cookie: cookie } })).status, 200);
});

// Another user on the press PC, played by a process of the test: it takes
// names and folders first where it could before, and the real start still
// either runs or says why it cannot.
test('another user cannot take the instance identity first; a folder that is not private is named', { timeout: 120000 }, async (t) => {
  const runtime = tempFolder(t);
  // What used to be the instance's socket: a name in the abstract namespace that anyone may bind.
  let hash = 0xcbf29ce484222325n;
  for (const c of Buffer.from(HOST.toUpperCase().replaceAll('/', '_'))) {
    hash ^= BigInt(c);
    hash = (hash * 0x100000001b3n) & 0xffffffffffffffffn;
  }
  const squatter = createServer((socket) => socket.end('F'));
  await new Promise((resolve) => squatter.listen('\0tessaro-instance-' + hash.toString(16).padStart(16, '0'), resolve));
  t.after(() => squatter.close());
  const host = await startHost(t, ['--storage', tempFolder(t)], { env: { XDG_RUNTIME_DIR: runtime } });
  const { cookie, pagePath } = await host.session();
  assert.equal((await raw(host.port, { path: `${pagePath}index.html`, headers: { Cookie: cookie } })).status, 200);
  await host.stop('SIGTERM');
  // A folder for the instance files that others could enter is not used: the start says so.
  const shared = tempFolder(t);
  mkdirSync(join(shared, 'tessaro'), { mode: 0o777 });
  chmodSync(join(shared, 'tessaro'), 0o777);
  const refused = new HostProcess(spawn(HOST, ['--no-browser', '--storage', tempFolder(t)],
    { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, XDG_RUNTIME_DIR: shared } }));
  assert.deepEqual(await refused.exit, { code: 1, signal: null });
  assert.deepEqual(refused.stdoutLines, []);
  assert.match(refused.stderrText, new RegExp(`${join(shared, 'tessaro')} is not a folder of this user's alone`));
});

test('requests without the session, with a foreign Host or Origin, or leaving the page folder are refused', { timeout: 120000 }, async (t) => {
  const host = await startHost(t, ['--storage', tempFolder(t)]);
  const { port } = host;
  const { cookie, pagePath: p } = await host.session();
  const withCookie = (headers = {}) => ({ Cookie: cookie, ...headers });
  const refused = [
    // [what, request, statuses accepted]
    ['no cookie', { path: `${p}index.html` }, [403]],
    ['root', { path: '/', headers: withCookie() }, [403]],
    ['cookie on another path', { path: '/index.html', headers: withCookie() }, [403]],
    ['page path as a longer segment', { path: `${p.slice(0, -1)}0/index.html`, headers: withCookie() }, [403]],
    ['foreign Host', { path: `${p}index.html`, headers: withCookie({ Host: `evil.example:${port}` }) }, [403]],
    ['Host with another port', { path: `${p}index.html`, headers: withCookie({ Host: `127.0.0.1:${port + 1}` }) }, [403]],
    ['foreign Origin', { path: `${p}index.html`, headers: withCookie({ Origin: 'http://evil.example' }) }, [403]],
    ['null Origin', { path: `${p}index.html`, headers: withCookie({ Origin: 'null' }) }, [403]],
    ['cross-site fetch', { path: `${p}index.html`, headers: withCookie({ 'Sec-Fetch-Site': 'cross-site' }) }, [403]],
    ['../ out of the page folder', { path: `${p}../${p}index.html`, headers: withCookie() }, [403, 404]],
    ['../ inside the page folder', { path: `${p}locales/../index.html`, headers: withCookie() }, [403, 404]],
    ['../ to the program folder', { path: `${p}../tessaro`, headers: withCookie() }, [403, 404]],
    ['encoded ../', { path: `${p}%2e%2e/tessaro`, headers: withCookie() }, [403, 404]],
    ['encoded slash', { path: `${p}locales%2f..%2f..%2ftessaro`, headers: withCookie() }, [403, 404]],
    ['backslash', { path: `${p}locales\\..\\index.html`, headers: withCookie() }, [403, 404]],
    ['absolute path', { path: `${p}/etc/passwd`, headers: withCookie() }, [403, 404]],
    ['folder listing', { path: `${p}locales/`, headers: withCookie() }, [403, 404]],
    ['missing file', { path: `${p}nothing.html`, headers: withCookie() }, [404]],
    ['bridge call without the cookie', { method: 'POST', path: `${p}~host/call`, body: { op: 'ShowError', args: ['x'] } }, [403]],
    ['bridge call from a foreign Origin', { method: 'POST', path: `${p}~host/call`,
      body: { op: 'ShowError', args: ['foreign'] }, headers: withCookie({ Origin: 'http://evil.example' }) }, [403]],
    ['bridge call with a foreign Host', { method: 'POST', path: `${p}~host/call`,
      body: { op: 'ShowError', args: ['rebound'] }, headers: withCookie({ Host: `tessaro.evil.example:${port}` }) }, [403]],
    ['stream from a foreign Origin', { path: `${p}~host/stream`, headers: withCookie({ Origin: 'http://evil.example' }) }, [403]],
  ];
  for (const [what, req, statuses] of refused) {
    const reply = await raw(port, req);
    assert.ok(statuses.includes(reply.status), `${what}: ${reply.status}`);
    assert.ok(!reply.text.includes('XMLHttpRequest'), `${what}: no page served`);
  }
  // None of the refused bridge calls ran: the pending messages are empty.
  const errors = await call(host, 'errors', [], {}, 'get');
  assert.equal(errors.status, 200);
  assert.deepEqual(JSON.parse(errors.text), { value: '' });
  // A call with the cookie and a same-origin Origin runs.
  const origin = { Origin: `http://127.0.0.1:${port}` };
  assert.equal((await call(host, 'ShowError', ['allowed'], origin)).status, 200);
  assert.deepEqual(JSON.parse((await call(host, 'errors', [], origin, 'get')).text), { value: 'allowed' });
  // The same refusals hold for a refused call shape: it answers, refused.
  assert.deepEqual(JSON.parse((await call(host, 'ShowError', [1])).text), { refused: true });
});

browserTest('the real page: the context menu is suppressed', async (t) => {
  const host = await startHost(t, ['--storage', tempFolder(t)],
    { env: { TESSARO_SERIAL_DIR: tempFolder(t) } });
  const page = await t.openPage();
  await page.addInitScript(() => {
    window.menus = [];
    // Registered before the page's scripts; looked at once the event has passed.
    window.addEventListener('contextmenu', (e) => setTimeout(() => window.menus.push(e.defaultPrevented), 0));
  });
  await page.goto(host.url);
  await waitShown(page);
  await page.click('#units-heading', { button: 'right' });
  await page.click('#set-working', { button: 'right' });
  await page.waitForFunction(() => window.menus.length === 2);
  assert.deepEqual(await page.evaluate(() => window.menus), [true, true]);
});

// Ctrl-C, SIGTERM and SIGHUP end the host with code 0: with a page connected
// (its stream open), with a client holding an idle kept-alive connection, and
// with neither.
const ENDINGS = [
  ['SIGINT', 'page'], ['SIGINT', 'idle connection'], ['SIGINT', 'nothing'],
  ['SIGTERM', 'page'], ['SIGHUP', 'nothing'],
];
for (const [signal, holding] of ENDINGS) {
  browserTest(`${signal} ends the host with code 0 with ${holding === 'page' ? 'a page connected' : holding === 'nothing' ? 'no client' : 'an idle kept-alive connection'}`, async (t) => {
    const host = await startHost(t, ['--storage', tempFolder(t)],
      { env: { TESSARO_SERIAL_DIR: tempFolder(t) } });
    if (holding === 'page') {
      const page = await t.openPage();
      await page.goto(host.url);
      await waitShown(page);
      await page.waitForFunction(() => document.getElementById('link-state').dataset.state !== 'starting',
        null, { timeout: 60000 });
    } else if (holding === 'idle connection') {
      // A client of its own: it keeps the connection as a browser does, whatever
      // time-out the host announces.
      const socket = connect(host.port, '127.0.0.1');
      t.after(() => socket.destroy());
      let received = '';
      socket.setEncoding('utf8');
      socket.on('data', (chunk) => { received += chunk; });
      const { cookie, pagePath } = await host.session();
      socket.write(`GET ${pagePath}index.html HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nCookie: ${cookie}\r\nConnection: keep-alive\r\n\r\n`);
      await until('the page on a kept-alive connection', () => received.includes('</html>'));
      assert.match(received, /^HTTP\/1\.1 200/);
    }
    // "Quickly": the wait is long only because the machine may be loaded; a
    // kept-alive connection once held the host for its 30 s time-out.
    const result = await host.stop(signal, { timeout: 10000 });
    assert.deepEqual(result, { code: 0, signal: null });
  });
}

test('--help lists the options; a bad argument exits with 2', { timeout: 60000 }, async () => {
  const run = (args) => new Promise((resolve) => {
    const child = new HostProcess(spawn(HOST, args, { stdio: ['ignore', 'pipe', 'pipe'] }));
    child.exit.then((r) => resolve({ ...r, out: child.stdoutLines.join('\n'), err: child.stderrText }));
  });
  const help = await run(['--help']);
  assert.equal(help.code, 0);
  for (const option of ['--no-browser', '--port', '--storage', '--page-folder', '--simulate'])
    assert.ok(help.out.includes(option), option);
  assert.equal((await run(['--port', 'x'])).code, 2);
  assert.equal((await run(['--bogus'])).code, 2);
});

// The first host is ending but waits for a press task (a unit that moves for
// seconds); a start meanwhile waits for it, then becomes the instance.
browserTest('a start while the running host is ending waits for it, then starts', async (t) => {
  const { host } = await startDemo(t, { movementMs: 4000 });
  const page = await openConsole(t, host);
  await select(page, [2]);
  await page.click('#set-working');
  await page.waitForFunction(() => document.querySelector('#units .unit[data-unit="2"]').dataset.progress === 'start',
    null, { timeout: 60000 });
  host.child.kill('SIGTERM');
  // The first host ends only once the unit is there.
  await new Promise((resolve) => setTimeout(resolve, 300));
  assert.equal(host.exited, null, 'the first host waits for its press task');
  const second = new HostProcess(spawn(HOST, ['--no-browser', '--storage', tempFolder(t)], { stdio: ['ignore', 'pipe', 'pipe'] }));
  t.after(() => second.stop('SIGTERM'));
  await second.address({ timeout: 90000 });
  assert.ok(host.exited, 'the second host started after the first ended');
  assert.deepEqual(host.exited, { code: 0, signal: null });
  // While it waited it said why nothing happened yet.
  assert.match(second.stderrText, /the running Tessaro Control is ending .*this start waits for it/);
  assert.match(second.stdoutLines[0], /^http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/index\.html$/);
  assert.equal((await rawRequest(second.port, { path: new URL(second.url).pathname })).status, 303);
});
