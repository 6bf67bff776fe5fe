/* Development stand-in for the host's `host` object. Never loaded by the real
 * console: htmlapp/dev/serve.mjs inserts it before the page's first script, the
 * way the host inserts its bridge.
 *
 * It keeps the host's argument rules (integers, texts, 0/1 flags; anything else
 * refused), sends page calls as script texts in order, escapes the settings and
 * languages the way the host does, and simulates a small press.
 *
 * Query options: nohost=1 units=N keys=N cycle=0|2|3 serial=fail fail=<unit> lang=de
 *                timer=<seconds> fast=1 (short delays) inks=0 (no extra calls)
 */
(function () {
  'use strict';
  const q = new URLSearchParams(location.search);
  if (q.get('nohost')) return; // the page on its own
  const opt = {
    units: +(q.get('units') || 4),
    keys: +(q.get('keys') || 24),
    cycle: +(q.get('cycle') || 3),
    serialFail: q.get('serial') === 'fail',
    failUnit: +(q.get('fail') || 0),
    lang: q.get('lang') || 'en',
    timer: +(q.get('timer') || 30),
    step: q.get('fast') ? 20 : 180,
    extras: q.get('inks') !== '0',
  };
  const CYCLE_LISTS = { 0: '', 2: '2,4,8,16,32,64', 3: '3,6,9,18,36,72' };
  const INKS = [['Cyan', '#00a0e0'], ['Magenta', '#e0007a'], ['Yellow', '#ffe500'], ['Black', '#1a1a1a'],
    ['Pantone 286', '#0033a0'], ['Varnish', '#d8d2c0']];

  const violations = [];
  window.__hostViolations = violations;
  window.__hostCalls = [];
  window.__pageCalls = [];

  function violation(text) {
    violations.push(text);
    let box = document.getElementById('fake-host-violations');
    if (!box && document.body) {
      box = document.createElement('pre');
      box.id = 'fake-host-violations';
      box.style.cssText = 'position:fixed;left:0;bottom:0;z-index:9999;margin:0;padding:6px;background:#b00;color:#fff;font:12px monospace;max-height:30vh;overflow:auto';
      document.body.appendChild(box);
    }
    if (box) box.textContent = 'fake host refused:\n' + violations.join('\n');
  }

  // ---- simulated host state ----
  const settings = {
    com: 3, units: opt.units, keys: opt.keys, ductorcycle: opt.cycle, perfector: 0,
    preset: true, loop: false,
    preset_input: 'D:\\Velora\\press1\\xml\\preset', loop_keys_input: '..\\Velora\\press1\\xml\\keyout',
    loop_keys_output: '..\\Velora\\press1\\xml\\keyin', loop_scan_input: '..\\Velora\\press1\\xmldensity\\tmp',
    loop_scan_output: '..\\Velora\\press1\\xmldensity', loop_commands: '..\\Marvane\\commands',
    current_job_path: '..\\Velora\\currentjob', log_path: 'log', language: opt.lang,
  };
  const arr = () => new Array(31).fill(0);
  const F = {
    errors: [], cycleValues: '2,0,3', selected: '', ductor: arr(), cycles: arr(), keys: arr(),
    percent: arr(), relative: false, serialOpen: true, rows: new Array(31).fill(null),
    folders: new Set(['log']),
    state: { ductor_value: arr(), ductor_cycle: arr(), keys: arr() },
  };
  const press = [];
  for (let u = 0; u <= 30; u++) {
    press.push({
      keys: Array.from({ length: opt.keys }, (_, i) => Math.round(60 + 50 * Math.sin((i + u * 3) / 3) + 30 * Math.cos(i * 1.7 + u))),
      ductor: 30 + u * 7, cycle: opt.cycle ? +CYCLE_LISTS[opt.cycle].split(',')[u % 3] : 0,
    });
  }
  const memory = [{ saved_on: '2024-05-14 09:12:55', description: 'Brochure "Spring" 4/4' }, null,
    { saved_on: '2024-05-20 16:40:03', description: 'Label run C\\D' }, null];

  // ---- page calls: one ordered stream of script texts ----
  const queue = [];
  let running = false;
  function page(text) {
    queue.push(text);
    if (!running) { running = true; setTimeout(drain, 0); }
  }
  function drain() {
    while (queue.length) {
      const text = queue.shift();
      window.__pageCalls.push(text);
      try { (0, eval)(text); } catch (e) { violation('page call failed: ' + text.slice(0, 80) + ': ' + e.message); }
    }
    running = false;
  }
  const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
  const task = (body) => { body().catch((e) => violation('task: ' + e.message)); };

  function jsonEscape(v) {
    return JSON.stringify(v).replace(/[\u007f-\uffff]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'))
      .replace(/\//g, '\\/');
  }
  function showError(text) { F.errors.push(text); page('App.showPendingErrors()'); }
  function joinErrors() {
    return F.errors.splice(0).map((m) => (/[\s\u0000-\u001f"|]/.test(m) || m === '' ? '"' + m.replace(/"/g, '""') + '"' : m)).join('|');
  }
  function event(unit, code, kind) {
    showError('Unit <b>' + unit + '</b>: <b>' + code + '</b> / type: ' + kind);
    if (unit === 0) { if (code === 10) F.serialOpen = false; return; }
    page('App.setUnitProgress(' + unit + ', ' + code + ')');
    if (code !== 4) return;
    if (kind === 1) { F.keys[unit] = 0; F.state.keys[unit] = 0; page('App.resetKey(' + unit + ')'); }
    if (kind === 2) page('App.okDuctorValue(' + unit + ')');
    if (kind === 3) page('App.okDuctorCycle(' + unit + ')');
  }
  // A transaction: start, then either done/read or three failed attempts.
  // What the line did per unit, as getLineStatus tells it (every count since the start).
  const line = { lastAnswer: '', units: {} };
  function lineOf(unit) {
    line.units[unit] = line.units[unit] || { state: 'unknown', answered: 0, silent: 0, retries: 0 };
    return line.units[unit];
  }
  async function transact(unit, kind, finalCode, effect) {
    event(unit, 0, kind);
    await sleep(opt.step);
    if (!F.serialOpen || unit === opt.failUnit) {
      for (let a = 1; a <= 3; a++) { await sleep(opt.step); event(unit, a, kind); }
      if (F.serialOpen) Object.assign(lineOf(unit), { state: 'notAnswering', silent: lineOf(unit).silent + 3,
        retries: lineOf(unit).retries + 2 });
      return 1;
    }
    if (effect) effect();
    Object.assign(lineOf(unit), { state: 'answering', answered: lineOf(unit).answered + 1 });
    const d = new Date();
    const pad = (n) => String(n).padStart(2, '0');
    line.lastAnswer = d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate()) + ' ' +
      pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());
    event(unit, finalCode, kind);
    return 0;
  }
  function extras(u) {
    if (!opt.extras || u < 1 || u > settings.units) return;
    page('App.showUnitKeys(' + u + ', "' + press[u].keys.join(',') + '")');
  }
  function units() {
    return ['0'].concat(F.selected.split(/[\s,]+/).filter((x) => x !== ''));
  }

  // ---- operations ----
  const ops = {
    startApp: [[], () => {
      // the library start reports a port that cannot be opened
      F.serialOpen = true;
      if (opt.serialFail) event(0, 10, 0);
      const s = Object.assign({}, settings);
      for (const k of Object.keys(s)) if (typeof s[k] === 'string' && k !== 'language') s[k] = s[k].replace(/\\/g, '\\\\');
      page("App.loadSettings('" + jsonEscape(s) + "')");
      page("App.loadLanguages('" + jsonEscape(loadLocales()) + "')");
      page('App.loadUnits(' + settings.units + ')');
      bindButtons();
      F.cycleValues = CYCLE_LISTS[settings.ductorcycle] || '';
      page('App.reloadDuctorCycles()');
      memoryList();
      if (opt.extras) {
        for (let u = 1; u <= settings.units; u++) {
          const [name, colour] = INKS[(u - 1) % INKS.length];
          page('App.showUnitInk(' + u + ', "' + name + '", "' + colour + '")');
        }
      }
      task(async () => { for (let u = 1; u <= settings.units; u++) { await transact(u, 1, 5); extras(u); } });
      page('App.showPendingErrors()');
      if (!F.serialOpen) page('App.showSerialError()');
    }],
    BindCallbacks: [[], () => {}],
    ExecuteJS: [['s'], (t) => page(t)],
    ShowError: [['s'], showError],
    GetConfig: [['s'], (n) => (n === 'UnitNumber' ? String(settings.units) : '')],
    GetStoragePath: [['s'], (n) => '/home/operator/.config/Tessaro Control/' + n],
    saveSettings: [['s'], (text) => {
      let s;
      try { s = JSON.parse(text); } catch (e) { violation('saveSettings: not JSON'); return; }
      for (const k of Object.keys(settings)) {
        const want = typeof settings[k];
        if (typeof s[k] !== want) violation('saveSettings: member ' + k + ' is ' + typeof s[k] + ', not ' + want);
        else if (want === 'number' && !Number.isInteger(s[k])) violation('saveSettings: member ' + k + ' not an integer');
      }
      Object.assign(settings, s);
      if (settings.perfector === 0) settings.perfector = settings.units;
      F.serialOpen = true;
      if (opt.serialFail) event(0, 10, 0);
      showError('Settings saved successfully');
    }],
    browseFolder: [['s'], (target) => {
      page('App.setSettingsFolder("' + target + '", "' + ('D:\\jobs\\' + target).replace(/\\/g, '\\\\') + '")');
    }],
    saveConfig: [['i', 's'], (p, name) => task(async () => {
      page('App.savingMemory(' + p + ')');
      for (let u = 1; u <= settings.units; u++) await transact(u, 1, 5);
      const d = new Date();
      const pad = (n) => String(n).padStart(2, '0');
      memory[p] = { saved_on: d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate()) + ' ' +
        pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds()), description: name };
      showError('Configuration saved to position ' + (p + 1));
      memoryList();
    })],
    loadConfig: [['i'], (p) => task(async () => {
      page('App.makeDirtyValues()');
      await sleep(opt.step * 3);
      if (!memory[p]) return;
      page('App.makeDirtyValues()');
      loadInitialState();
    })],
    setKeys: [['i', 'i'], (u, v) => { F.keys[u] = v; }],
    setKeysPercentage: [['i', 'i'], (u, v) => { F.percent[u] = v; }],
    setKeysMode: [['i'], (v) => { F.relative = v === 1; }],
    // A key row as the host takes it: refused (undefined) unless 0..255 per key, at most the keys.
    setUnitKeys: [['i', 's'], (u, text) => {
      if (u < 1 || u > settings.units) return undefined;
      if (text === '') { F.rows[u] = null; return undefined; }
      const row = text.split(',').map((x) => x.trim());
      if (row.length > settings.keys || !row.every((x) => /^\d{1,3}$/.test(x) && +x <= 255)) return undefined;
      F.rows[u] = row.map(Number);
      return undefined;
    }],
    // The service view: the line's state and counters; the program's version.
    getLineStatus: [[], () => {
      const list = [];
      for (let u = 1; u <= settings.units; u++) {
        const l = lineOf(u);
        const counts = { answered: l.answered, late: 0, silent: l.silent, malformed: 0, retries: l.retries };
        list.push({ unit: u, state: l.state, sinceStart: counts, lastMinute: counts });
      }
      const notAnswering = list.filter((u) => u.state === 'notAnswering').map((u) => u.unit);
      const answering = list.some((u) => u.state === 'answering');
      return {
        portOpen: F.serialOpen, portFailure: F.serialOpen ? '' : '/dev/ttyUSB0: permission denied',
        portAdvice: F.serialOpen ? '' : 'dialout', lastAnswer: line.lastAnswer,
        secondsSinceAnswer: line.lastAnswer ? 0 : -1,
        console: !F.serialOpen ? 'unknown' : answering ? 'answering' : notAnswering.length ? 'silent' : 'unknown',
        notAnswering, units: list,
      };
    }],
    getVersion: [[], () => '0.0.0-dev'],
    logFolderExists: [['s'], (path) => F.folders.has(path)],
    createLogFolder: [['s'], (path) => { if (path) F.folders.add(path); return !!path; }],
    setUnitDuctorValue: [['i', 'i'], (u, v) => { F.ductor[u] = v; }],
    setUnitDuctorCycle: [['i', 'i'], (u, v) => { F.cycles[u] = v; }],
    RunAsyncCommand: [['c'], (c) => {
      const list = units();
      if (c === 3) { applySettings(list); return; }
      task(async () => {
        page('App.startUnits()');
        if (c === 2) page('App.showCountdown(' + opt.timer + ')');
        for (const e of list) {
          const u = +e;
          if (u !== 0) await transact(u, 0, 4);
          await sleep(opt.step * 2);
        }
      });
    }],
    GetDuctor: [['i'], (u) => task(async () => readDuctor(u))],
    GetDuctorCycle: [['i'], (u) => task(async () => readCycle(u))],
    LoadInitialState: [[], () => loadInitialState()],
    CopyUnit: [['i', 'i'], (target, source) => task(async () => {
      page('App.stopCopyUnit()');
      await transact(target, 1, 5);
      await transact(source, 0, 4, () => {
        press[source] = JSON.parse(JSON.stringify(press[target]));
      });
      extras(source);
    })],
    SwapUnit: [['i', 'i'], (target, source) => task(async () => {
      page('App.stopCopyUnit()');
      await transact(target, 0, 4);
      await transact(source, 0, 4, () => { const t = press[source]; press[source] = press[target]; press[target] = t; });
      extras(source);
      extras(target);
    })],
    UglyInitialall: [[], () => {}],
  };

  async function readDuctor(u) {
    await transact(u, 2, 5);
    const v = press[u].ductor;
    F.state.ductor_value[u] = v;
    F.ductor[u] = v;
    page('App.setDuctorValue(' + u + ', ' + v + ')');
  }
  async function readCycle(u) {
    await transact(u, 3, 5);
    const v = press[u].cycle;
    F.state.ductor_cycle[u] = v;
    F.cycles[u] = v;
    page('App.setDuctorCycleValue(' + u + ', ' + v + ')');
  }
  function loadInitialState() {
    task(async () => {
      for (let u = 1; u <= settings.units; u++) {
        await transact(u, 1, 5);
        extras(u);
        await readDuctor(u);
        if (settings.ductorcycle > 0) await readCycle(u);
        else await transact(u, 3, 5);
        F.state.keys[u] = 0;
        F.keys[u] = 0;
      }
    });
  }
  function applySettings(list) {
    task(async () => {
      const changed = [];
      for (const e of list) {
        const u = +e;
        const add = () => { if (!changed.includes(e)) changed.push(e); };
        if (F.state.ductor_value[u] !== F.ductor[u]) add();
        if (F.state.ductor_cycle[u] !== F.cycles[u]) add();
        if (F.rows[u] || (!F.relative ? (F.state.keys[u] !== F.keys[u] && F.keys[u] !== 0) : F.percent[u] !== 0)) add();
      }
      if (changed.length) page('App.startUnits("' + changed.join(',') + '")');
      for (const e of list) {
        const u = +e;
        if (F.state.ductor_value[u] !== F.ductor[u]) {
          const v = F.ductor[u];
          await transact(u, 2, 4, () => { press[u].ductor = v; });
        }
        if (settings.ductorcycle > 0 && F.state.ductor_cycle[u] !== F.cycles[u]) {
          const v = F.cycles[u];
          await transact(u, 3, 4, () => { press[u].cycle = v; });
        }
        if (F.rows[u]) {
          const row = F.rows[u];
          const r = await transact(u, 1, 4, () => { press[u].keys = press[u].keys.map((k, i) => (i < row.length ? row[i] : k)); });
          if (r === 0) F.rows[u] = null;
          extras(u);
          page('App.unitKeysResult(' + u + ', ' + r + ')');
          continue;
        }
        const change = !F.relative ? (F.state.keys[u] !== F.keys[u] && F.keys[u] !== 0 ? F.keys[u] : 0) : F.percent[u];
        if (change !== 0) {
          const rel = F.relative;
          await transact(u, 1, 4, () => {
            press[u].keys = press[u].keys.map((k) => Math.max(0, Math.min(255,
              rel ? Math.trunc(k + k * change * 0.01 + 0.5) : k + change)));
          });
          event(u, 4, 1);
          extras(u);
        }
      }
    });
  }
  function memoryList() {
    for (let p = 0; p < 4; p++) {
      if (memory[p]) {
        const lit = JSON.stringify(memory[p]).replace(/[\u007f-\uffff]/g, (c) => c);
        page('App.loadMemory(' + p + ', ' + lit + ')');
      } else {
        page('App.emptyMemory(' + p + ')');
      }
    }
  }
  function loadLocales() {
    const out = {};
    for (const name of ['en', 'de']) {
      const x = new XMLHttpRequest();
      x.open('GET', 'locales/' + name + '.json', false);
      x.send();
      if (x.status === 200) out[name] = { translation: JSON.parse(x.responseText.replace(/'/g, '|')) };
    }
    return out;
  }
  const COMMANDS = { 'set-working': () => ops.RunAsyncCommand[1](0), 'set-zero': () => ops.RunAsyncCommand[1](1),
    'ink-up': () => ops.RunAsyncCommand[1](2), 'production-refresh': () => loadInitialState(),
    'ductor-apply': () => ops.RunAsyncCommand[1](3) };
  function bindButtons() {
    for (const id of Object.keys(COMMANDS)) {
      const el = document.getElementById(id);
      if (!el) { violation('element missing: ' + id); continue; }
      el.addEventListener('click', () => COMMANDS[id](), true);
    }
  }

  // ---- the host object with the host's argument rules ----
  function accepts(kind, v) {
    if (kind === 's') return typeof v === 'string';
    if (kind === 'c') return Number.isInteger(v) && v >= 0 && v <= 3;
    return Number.isInteger(v) && v >= -2147483648 && v <= 2147483647;
  }
  const host = {};
  for (const [name, [sig, fn]] of Object.entries(ops)) {
    host[name] = function (...args) {
      window.__hostCalls.push([name].concat(args));
      if (args.length !== sig.length || !sig.every((k, i) => accepts(k, args[i]))) {
        violation(name + '(' + args.map((a) => JSON.stringify(a)).join(', ') + ')');
        return undefined;
      }
      return fn(...args);
    };
  }
  Object.defineProperty(host, 'ductorCycleValues', {
    get: () => F.cycleValues,
    set: (v) => { if (typeof v === 'string') F.cycleValues = v; else violation('ductorCycleValues = ' + v); },
  });
  Object.defineProperty(host, 'errors', { get: joinErrors, set: () => {} });
  Object.defineProperty(host, 'isSerialOpen', {
    get: () => F.serialOpen,
    set: (v) => { if (v === 0 || v === 1) F.serialOpen = v === 1; else violation('isSerialOpen = ' + JSON.stringify(v)); },
  });
  Object.defineProperty(host, 'selectedUnits', {
    get: () => F.selected,
    set: (v) => { if (typeof v === 'string') F.selected = v; else violation('selectedUnits = ' + JSON.stringify(v)); },
  });
  window.host = host;
  window.tsrHostReady = true; // calls reach the page at once
})();
