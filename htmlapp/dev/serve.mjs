// Serves the page for development with the fake host inserted before the page's
// first script, as the real host inserts its bridge.
//   node htmlapp/dev/serve.mjs [port]    then open http://127.0.0.1:<port>/?units=6
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('..', import.meta.url));
const port = Number(process.argv[2] || 8765);
const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8', '.json': 'application/json; charset=utf-8',
  '.png': 'image/png', '.svg': 'image/svg+xml' };

createServer(async (req, res) => {
  let path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
  if (path === '/') path = '/index.html';
  const file = normalize(join(root, path));
  if (!file.startsWith(root) || file.split(sep).includes('..')) { res.writeHead(403).end(); return; }
  try {
    let body = await readFile(file);
    if (path === '/index.html') {
      body = body.toString('utf8').replace('<script', '<script src="dev/fake-host.js"></script>\n<script');
    }
    res.writeHead(200, { 'content-type': types[extname(file)] || 'application/octet-stream', 'cache-control': 'no-store' });
    res.end(body);
  } catch {
    res.writeHead(404).end();
  }
}).listen(port, '127.0.0.1', () => process.stdout.write(`http://127.0.0.1:${port}/\n`));
