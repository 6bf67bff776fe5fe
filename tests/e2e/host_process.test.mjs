// The host as a process: its address on the first line, the requests it
// refuses, the real page's context menu, single instance and Ctrl-C.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { request } from 'node:http';
import { connect, createServer } from 'node:net';
import { test } from 'node:test';
import { HOST, HostProcess, browserTest, startHost, tempFolder, until, waitShown } from './lib/host.mjs';

// One raw HTTP request; the path goes out exactly as given (no normalising).
function raw(port, { method = 'GET', path, headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = request({ host: '127.0.0.1', port, method, path, agent: false, headers: { Host: `127.0.0.1:${port}`, ...headers } },
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

const call = (port, secret, op, args, headers = {}, kind = 'call') =>
  raw(port, { method: 'POST', path: `/${secret}/~host/call`, body: { kind, op, args },
    headers: { 'Content-Type': 'application/json', ...headers } });

test('the first line on standard output is the page address with its secret; --port fixes the port', { timeout: 120000 }, async (t) => {
  const port = await freePort();
  const host = await startHost(t, ['--port', String(port), '--storage', tempFolder(t)]);
  assert.match(host.stdoutLines[0], new RegExp(`^http://127\\.0\\.0\\.1:${port}/[0-9a-f]{32}/index\\.html$`));
  const page = await raw(port, { path: `/${host.secret}/index.html` });
  assert.equal(page.status, 200);
  // The bridge comes before the page's own script.
  const bridge = page.text.indexOf('XMLHttpRequest');
  assert.ok(bridge > 0 && bridge < page.text.indexOf('src="app.js"'), 'bridge script before app.js');
  assert.equal(page.headers['cache-control'], 'no-store');
});

test('a second start of the same program exits with 0 and leaves the first running', { timeout: 120000 }, async (t) => {
  const host = await startHost(t, ['--storage', tempFolder(t)]);
  const second = new HostProcess(spawn(HOST, ['--no-browser', '--storage', tempFolder(t)],
    { stdio: ['ignore', 'pipe', 'pipe'] }));
  const result = await second.exit;
  assert.deepEqual(result, { code: 0, signal: null });
  assert.deepEqual(second.stdoutLines, []);
  assert.equal((await raw(host.port, { path: `/${host.secret}/index.html` })).status, 200);
});

test('requests without the secret, with a foreign Host or Origin, or leaving the page folder are refused', { timeout: 120000 }, async (t) => {
  const host = await startHost(t, ['--storage', tempFolder(t)]);
  const { port, secret } = host;
  const wrong = secret.replace(/^./, (c) => (c === '0' ? '1' : '0'));
  const refused = [
    // [what, request, statuses accepted]
    ['no secret', { path: '/index.html' }, [403]],
    ['root', { path: '/' }, [403]],
    ['wrong secret', { path: `/${wrong}/index.html` }, [403]],
    ['secret as a longer segment', { path: `/${secret}0/index.html` }, [403]],
    ['secret in the query only', { path: `/index.html?${secret}` }, [403]],
    ['foreign Host', { path: `/${secret}/index.html`, headers: { Host: `evil.example:${port}` } }, [403]],
    ['Host with another port', { path: `/${secret}/index.html`, headers: { Host: `127.0.0.1:${port + 1}` } }, [403]],
    ['foreign Origin', { path: `/${secret}/index.html`, headers: { Origin: 'http://evil.example' } }, [403]],
    ['null Origin', { path: `/${secret}/index.html`, headers: { Origin: 'null' } }, [403]],
    ['cross-site fetch', { path: `/${secret}/index.html`, headers: { 'Sec-Fetch-Site': 'cross-site' } }, [403]],
    ['../ out of the page folder', { path: `/${secret}/../${secret}/index.html` }, [403, 404]],
    ['../ inside the page folder', { path: `/${secret}/locales/../index.html` }, [403, 404]],
    ['../ to the program folder', { path: `/${secret}/../tessaro` }, [403, 404]],
    ['encoded ../', { path: `/${secret}/%2e%2e/tessaro` }, [403, 404]],
    ['encoded slash', { path: `/${secret}/locales%2f..%2f..%2ftessaro` }, [403, 404]],
    ['backslash', { path: `/${secret}/locales\\..\\index.html` }, [403, 404]],
    ['absolute path', { path: `/${secret}//etc/passwd` }, [403, 404]],
    ['folder listing', { path: `/${secret}/locales/` }, [403, 404]],
    ['missing file', { path: `/${secret}/nothing.html` }, [404]],
    ['bridge call without the secret', { method: 'POST', path: '/~host/call', body: { op: 'ShowError', args: ['x'] } }, [403]],
    ['bridge call from a foreign Origin', { method: 'POST', path: `/${secret}/~host/call`,
      body: { op: 'ShowError', args: ['foreign'] }, headers: { Origin: 'http://evil.example' } }, [403]],
    ['bridge call with a foreign Host', { method: 'POST', path: `/${secret}/~host/call`,
      body: { op: 'ShowError', args: ['rebound'] }, headers: { Host: `tessaro.evil.example:${port}` } }, [403]],
    ['stream from a foreign Origin', { path: `/${secret}/~host/stream`, headers: { Origin: 'http://evil.example' } }, [403]],
  ];
  for (const [what, req, statuses] of refused) {
    const reply = await raw(port, req);
    assert.ok(statuses.includes(reply.status), `${what}: ${reply.status}`);
    assert.ok(!reply.text.includes('XMLHttpRequest'), `${what}: no page served`);
  }
  // None of the refused bridge calls ran: the pending messages are empty.
  const errors = await call(port, secret, 'errors', [], {}, 'get');
  assert.equal(errors.status, 200);
  assert.deepEqual(JSON.parse(errors.text), { value: '' });
  // A call with the secret and a same-origin Origin runs.
  const origin = { Origin: `http://127.0.0.1:${port}` };
  assert.equal((await call(port, secret, 'ShowError', ['allowed'], origin)).status, 200);
  assert.deepEqual(JSON.parse((await call(port, secret, 'errors', [], origin, 'get')).text), { value: 'allowed' });
  // The same refusals hold for a refused call shape: it answers, refused.
  assert.deepEqual(JSON.parse((await call(port, secret, 'ShowError', [1])).text), { refused: true });
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
      socket.write(`GET /${host.secret}/index.html HTTP/1.1\r\nHost: 127.0.0.1:${host.port}\r\nConnection: keep-alive\r\n\r\n`);
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
