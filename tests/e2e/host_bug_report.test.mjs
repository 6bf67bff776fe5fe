// An unexpected error in an operation the page started reaches the operator
// and the bug report: bugreport.txt in the storage folder gets a line, the page
// is told to show the pending errors and they name the error and the file.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { browserTest, gotoHost, startHost, tempFolder, until, waitShown } from './lib/host.mjs';

const CONTRACT_PAGE = fileURLToPath(new URL('../host/contract_page', import.meta.url));

browserTest('an operation that fails unexpectedly: a line in bugreport.txt and a message in the page', async (t) => {
  const demo = tempFolder(t, 'tsr-demo-');
  const host = await startHost(t, ['--simulate', '--demo', demo, '--movement-ms', '100', '--page-folder', CONTRACT_PAGE]);
  const page = await t.openPage();
  await gotoHost(page, host);
  await waitShown(page);
  await page.waitForFunction(() => window.calls.some((c) => c[0] === 'loadMemory' || c[0] === 'emptyMemory'),
    null, { timeout: 60000 });
  // A faulty page: a selection with an entry that is no unit number. The
  // working position stops there, which the host did not expect.
  await page.evaluate(() => { host.selectedUnits = '2,x'; });
  await page.click('#set-working');
  // The pending errors are emptied by each read; the console's own notes come and go among them.
  let errors = '';
  await until('the message in the page', async () => {
    errors += '|' + await page.evaluate(() => host.errors);
    return errors.includes('Unexpected error:');
  });
  assert.ok((await page.evaluate(() => window.calls.filter((c) => c[0] === 'showPendingErrors').length)) > 0);
  const storage = join(demo, 'storage');
  const report = join(storage, 'bugreport.txt');
  assert.match(errors, /"?Unexpected error: 'x' is not a valid integer value\. The program goes on; a report was added to /);
  await until('the bug report', () => existsSync(report));
  assert.ok(errors.includes(report), `${errors} names ${report}`);
  const lines = readFileSync(report, 'utf8').split('\n').filter(Boolean);
  assert.equal(lines.length, 1);
  assert.match(lines[0], / unexpected error: 'x' is not a valid integer value$/);
});
