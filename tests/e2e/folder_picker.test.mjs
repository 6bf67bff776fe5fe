// Every "Browse…" of a page, clicked as the operator clicks it: the host's own
// folder picker opens on the field's folder, a subfolder is opened and chosen
// and the field shows it; cancelled, the field keeps its folder. The real page
// (its settings dialog, against the simulated press) and the contract page.
import assert from 'node:assert/strict';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { browserTest, gotoHost, startHost, tempFolder, waitShown } from './lib/host.mjs';
import { openConsole, startDemo } from './lib/demo.mjs';

const CONTRACT_PAGE = fileURLToPath(new URL('../host/contract_page', import.meta.url));

const pickerPath = (page) => page.evaluate(() => {
  const picker = document.querySelector('tsr-folder-picker');
  return picker ? picker.shadowRoot.getElementById('path').textContent : null;
});
async function waitPickerPath(page, path) {
  await page.waitForFunction((p) => {
    const picker = document.querySelector('tsr-folder-picker');
    return picker && picker.shadowRoot.getElementById('path').textContent === p;
  }, path, { timeout: 30000 });
}

// Browse on field (its folder holds a subfolder "picked"): opened, chosen, shown;
// then browsed again (the picker starts at the saved folder), moved into the
// subfolder and cancelled: unchanged.
async function browseAndChoose(page, browseButton, field) {
  const start = await page.inputValue(field);
  const picker = page.getByRole('dialog', { name: 'Choose a folder' });
  await page.click(browseButton);
  await picker.waitFor();
  await waitPickerPath(page, start);
  await picker.getByRole('button', { name: 'picked', exact: true }).click();
  await waitPickerPath(page, join(start, 'picked'));
  await picker.getByRole('button', { name: 'Choose this folder' }).click();
  await page.locator('tsr-folder-picker').waitFor({ state: 'detached' });
  await page.waitForFunction(([f, v]) => document.querySelector(f).value === v, [field, join(start, 'picked')],
    { timeout: 30000 });

  // Cancelled after moving into the subfolder: the field keeps what it has.
  await page.click(browseButton);
  await picker.waitFor();
  await waitPickerPath(page, start);
  await picker.getByRole('button', { name: 'picked', exact: true }).click();
  await waitPickerPath(page, join(start, 'picked'));
  await picker.getByRole('button', { name: 'Cancel' }).click();
  await page.locator('tsr-folder-picker').waitFor({ state: 'detached' });
  assert.equal(await pickerPath(page), null);
  // A page call issued now comes after anything the cancel could have sent.
  await page.evaluate(() => host.ExecuteJS('document.body.dataset.after = "cancel"'));
  await page.waitForFunction(() => document.body.dataset.after === 'cancel', null, { timeout: 30000 });
  assert.equal(await page.inputValue(field), join(start, 'picked'), 'cancel changes nothing');
}

browserTest('the real page: every Browse… of the settings dialog chooses a folder with the host\'s picker', async (t) => {
  const { host } = await startDemo(t);
  const page = await openConsole(t, host);
  await page.click('#open-settings');
  await page.locator('#settings-dialog').waitFor();
  const names = await page.$$eval('#settings-form button.browse', (b) => b.map((x) => x.dataset.folder));
  assert.ok(names.length >= 8, 'Browse buttons: ' + names);
  for (const name of names) {
    const field = `#settings-form input[name="${name}"]`;
    const folder = await page.inputValue(field);
    assert.ok(folder.startsWith('/'), `${name}: ${folder}`);
    mkdirSync(join(folder, 'picked'), { recursive: true });
    await browseAndChoose(page, `#settings-form button.browse[data-folder="${name}"]`, field);
  }
});

browserTest('the contract page: its Browse… chooses a folder with the host\'s picker', async (t) => {
  const folder = tempFolder(t);
  const preset = join(folder, 'preset');
  mkdirSync(join(preset, 'picked'), { recursive: true });
  mkdirSync(join(folder, 'storage'));
  mkdirSync(join(folder, 'no-ports'));
  writeFileSync(join(folder, 'storage', 'Tessaro.ini'), `[GENERAL]\r\nPathPresetRCV=${preset}\r\n`);
  const host = await startHost(t, ['--page-folder', CONTRACT_PAGE, '--storage', join(folder, 'storage')],
    { env: { TESSARO_SERIAL_DIR: join(folder, 'no-ports') } });
  const page = await t.openPage();
  await gotoHost(page, host);
  await waitShown(page);
  await page.waitForFunction(() => window.calls.some((c) => c[0] === 'loadSettings'), null, { timeout: 60000 });
  // The page fills its field from the settings the host gave it.
  await page.evaluate(() => {
    const settings = JSON.parse(window.calls.find((c) => c[0] === 'loadSettings')[1]);
    document.getElementById('preset_input').value = settings.preset_input;
  });
  assert.equal(await page.inputValue('#preset_input'), preset);
  await browseAndChoose(page, '#browse-preset', '#preset_input');
});
