/* Tessaro operator page.
 *
 * The host injects the global `host` before this script runs. Host operations are
 * synchronous and refuse arguments of the wrong kind (integers must be integers,
 * texts strings, flags 0/1), so every call goes through the helpers below.
 * The host shows every browser console message as a modal box: this script never
 * writes to the console and catches its own errors into the message panel.
 */
(function () {
  'use strict';

  const MAX_UNITS = 30; // the host's per-unit arrays hold units 0 to 30
  const MEMORY_SLOTS = 4;
  const MAX_MESSAGES = 300;
  const RANGE = {
    ductor: [0, 100],
    offset: [-255, 255],
    percent: [-100, 100],
  };
  const FOLDERS = ['preset_input', 'loop_keys_input', 'loop_keys_output', 'loop_scan_input',
    'loop_scan_output', 'loop_commands', 'current_job_path', 'log_path'];
  const INT_SETTINGS = ['com', 'units', 'keys', 'perfector'];
  const DEFAULT_INK = '#5b6b7a';

  const state = {
    languages: {},
    fallbackTexts: null,
    lang: 'en',
    settings: null,
    units: [],
    cycleValues: [],
    percentMode: false,
    memory: [],
    memoryBusy: [],
    messages: [],
    countdownTimer: 0,
    countdownEnd: 0,
    copyJob: null,
    started: false,
    refreshed: false,
    recallTimer: 0,
    zoneUnit: null, // the unit whose zones the editor bar acts on
    line: null, // what the host last said of the line to the console (getLineStatus)
    lineTimer: 0,
    serviceTimer: 0,
    silentDismissed: false,
  };

  const $ = (id) => document.getElementById(id);

  // ---- host access -------------------------------------------------------

  function hostObject() {
    return (typeof window.host === 'object' || typeof window.host === 'function') && window.host
      ? window.host : null;
  }

  function hostCall(op, ...args) {
    const h = hostObject();
    if (!h || typeof h[op] !== 'function') return undefined;
    try {
      return h[op](...args);
    } catch (e) {
      pageFault(op, e);
      return undefined;
    }
  }

  function hostGet(prop) {
    const h = hostObject();
    if (!h) return undefined;
    try {
      return h[prop];
    } catch (e) {
      pageFault(prop, e);
      return undefined;
    }
  }

  function hostSet(prop, value) {
    const h = hostObject();
    if (!h) return;
    try {
      h[prop] = value;
    } catch (e) {
      pageFault(prop, e);
    }
  }

  function toInt(v, fallback) {
    const n = typeof v === 'number' ? v : parseInt(String(v), 10);
    return Number.isFinite(n) ? Math.trunc(n) : fallback;
  }

  function clamp(v, [lo, hi]) {
    return Math.min(hi, Math.max(lo, v));
  }

  // ---- translations ------------------------------------------------------

  function lookup(lang, key) {
    const entry = state.languages[lang];
    return lookupIn(entry && entry.translation, key);
  }

  function lookupIn(node, key) {
    for (const part of key.split('.')) {
      if (node === null || typeof node !== 'object') return null;
      node = node[part];
    }
    return typeof node === 'string' ? node : null;
  }

  // The host turns every apostrophe of a locale file into "|"; put it back.
  function tx(key, vars) {
    let s = lookup(state.lang, key);
    if (s === null) s = lookup('en', key);
    if (s === null) s = lookupIn(state.fallbackTexts, key);
    if (s === null) return null;
    s = s.replace(/\|/g, '\u2019');
    return s.replace(/\{\{\s*(\w+)\s*\}\}/g, (m, k) =>
      vars && Object.prototype.hasOwnProperty.call(vars, k) ? String(vars[k]) : m);
  }

  function t(key, vars) {
    const s = tx(key, vars);
    return s === null ? key : s;
  }

  function setI18n(el, key, vars) {
    el.dataset.i18n = key;
    if (vars) el.dataset.i18nVars = JSON.stringify(vars);
    else delete el.dataset.i18nVars;
    translateEl(el);
  }

  function translateEl(el) {
    const vars = el.dataset.i18nVars ? JSON.parse(el.dataset.i18nVars) : undefined;
    const s = tx(el.dataset.i18n, vars);
    // The same text again is no change: a live region (the link state) is not read out anew.
    if (s !== null) {
      if (el.textContent !== s) el.textContent = s;
    }
    else if (!el.textContent) el.textContent = el.dataset.i18n;
  }

  function languageNames() {
    return Object.keys(state.languages).filter((k) => {
      const e = state.languages[k];
      return e && typeof e === 'object' && e.translation && typeof e.translation === 'object';
    });
  }

  function setLanguage(lang) {
    if (!state.languages[lang]) lang = state.languages.en ? 'en' : (languageNames()[0] || 'en');
    state.lang = lang;
    document.documentElement.lang = lang;
    document.querySelectorAll('[data-i18n]').forEach(translateEl);
    renderLanguageSwitch();
    renderSettingsLanguages();
    state.units.forEach(renderUnit);
    renderSelectionCount();
    renderMemory();
    renderMessages();
    renderCountdown();
    renderCopyStatus();
    renderZoneEditor();
  }

  function renderLanguageSwitch() {
    const box = $('language-switch');
    box.querySelectorAll('button').forEach((b) => b.remove());
    for (const lang of languageNames()) {
      const b = document.createElement('button');
      b.type = 'button';
      b.className = 'seg';
      b.lang = lang;
      const short = document.createElement('span');
      short.textContent = lookup(lang, 'language.short') || lang.toUpperCase();
      const full = document.createElement('span');
      full.className = 'visually-hidden';
      full.textContent = ' ' + (lookup(lang, 'language.name') || lang);
      b.append(short, full);
      b.setAttribute('aria-pressed', String(lang === state.lang));
      b.addEventListener('click', guard(() => {
        setLanguage(lang);
        const sel = $('settings-language');
        if (sel) sel.value = lang;
      }));
      box.appendChild(b);
    }
    box.hidden = languageNames().length < 2;
  }

  function renderSettingsLanguages() {
    const sel = $('settings-language');
    const current = sel.value || (state.settings && state.settings.language) || state.lang;
    sel.textContent = '';
    const names = languageNames();
    if (current && !names.includes(current)) names.push(current);
    for (const lang of names) {
      const o = document.createElement('option');
      o.value = lang;
      o.textContent = lookup(lang, 'language.name') || lang;
      sel.appendChild(o);
    }
    sel.value = current;
  }

  // ---- errors of the page itself -------------------------------------------

  function pageFault(where, e) {
    addMessages([{ raw: 'page: ' + where + ': ' + (e && e.message ? e.message : String(e)), level: 'error' }]);
  }

  function guard(fn, name) {
    return function (...args) {
      try {
        return fn.apply(this, args);
      } catch (e) {
        pageFault(name || fn.name || 'handler', e);
        return undefined;
      }
    };
  }

  // ---- pending messages -----------------------------------------------------

  // Joined form: entries separated by "|"; an entry holding a blank, control
  // character, double quote or "|" is quoted, with inner quotes doubled.
  function parsePending(text) {
    const out = [];
    if (typeof text !== 'string' || text === '') return out;
    let i = 0;
    const n = text.length;
    for (;;) {
      let item = '';
      if (text[i] === '"') {
        i++;
        while (i < n) {
          if (text[i] === '"') {
            if (text[i + 1] === '"') { item += '"'; i += 2; } else { i++; break; }
          } else {
            item += text[i++];
          }
        }
        while (i < n && text[i] !== '|') item += text[i++];
      } else {
        while (i < n && text[i] !== '|') item += text[i++];
      }
      out.push(item);
      if (i >= n) break;
      i++;
    }
    return out;
  }

  const EVENT_RE = /^Unit <b>(-?\d+)<\/b>: <b>(-?\d+)<\/b> \/ type: (-?\d+)$/;
  const MEMORY_SAVED_RE = /^Configuration saved to position (-?\d+)$/;
  // The job memory's other outcomes, as the host words them.
  const MEMORY_TEXTS = [
    [/^Configuration saved to position (-?\d+) without units? ([\d, ]+), which did not answer: a recall leaves them as they are$/,
      (m) => ({ known: m[2].includes(',') ? 'messages.memorySavedWithoutMany' : 'messages.memorySavedWithoutOne',
        vars: { n: +m[1], units: m[2].trim() }, level: 'warn' })],
    [/^Configuration not saved to position (-?\d+): no unit answered; the job stored there before is kept$/,
      (m) => ({ known: 'messages.memoryNothingRead', vars: { n: +m[1] }, level: 'error' })],
    [/^Configuration not saved to position (-?\d+)$/,
      (m) => ({ known: 'messages.memoryNotSaved', vars: { n: +m[1] }, level: 'error' })],
    [/^Nothing recalled: no job is stored in position (-?\d+)$/,
      (m) => ({ known: 'messages.memoryEmpty', vars: { n: +m[1] }, level: 'warn' })],
    [/^Settings not saved: the settings text is not a JSON object$/,
      () => ({ known: 'messages.settingsNotSaved', level: 'error' })],
  ];

  function classify(text) {
    const ev = EVENT_RE.exec(text);
    if (ev) {
      const unit = +ev[1], code = +ev[2], kind = +ev[3];
      let level = 'info';
      if (code >= 1 && code <= 2) level = 'warn';
      if (code === 3 || code === 10) level = 'error';
      return { event: { unit, code, kind }, level };
    }
    if (text === 'Settings saved successfully') return { known: 'messages.settingsSaved', level: 'ok' };
    const mem = MEMORY_SAVED_RE.exec(text);
    if (mem) return { known: 'messages.memorySaved', vars: { n: +mem[1] }, level: 'ok' };
    for (const [re, make] of MEMORY_TEXTS) {
      const m = re.exec(text);
      if (m) return make(m);
    }
    return { raw: text, level: 'info' };
  }

  function eventText(ev) {
    const code = [0, 1, 2, 3, 4, 5, 10].includes(ev.code) ? t('events.code' + ev.code)
      : t('events.codeOther', { code: ev.code });
    const kind = [0, 1, 2, 3].includes(ev.kind) ? t('events.kind' + ev.kind)
      : t('events.kindOther', { kind: ev.kind });
    if (ev.unit === 0) return t('messages.pressEvent', { code });
    return t('messages.event', { unit: ev.unit, code, kind });
  }

  // Host texts may carry <b>…</b>; nothing else of them is taken as markup.
  function appendMarked(el, text) {
    let bold = false;
    for (const part of text.split(/(<\/?b>)/i)) {
      if (/^<b>$/i.test(part)) { bold = true; continue; }
      if (/^<\/b>$/i.test(part)) { bold = false; continue; }
      if (!part) continue;
      if (bold) {
        const s = document.createElement('strong');
        s.textContent = part;
        el.appendChild(s);
      } else {
        el.appendChild(document.createTextNode(part));
      }
    }
  }

  function messageNode(m) {
    const li = document.createElement('li');
    li.className = 'message level-' + m.level;
    const time = document.createElement('time');
    time.className = 'message-time';
    time.textContent = m.time.toLocaleTimeString(state.lang, { hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false });
    li.appendChild(time);
    const body = document.createElement('span');
    body.className = 'message-text';
    if (m.event) body.textContent = eventText(m.event);
    else if (m.known) body.textContent = t(m.known, m.vars);
    else appendMarked(body, m.raw);
    li.appendChild(body);
    return li;
  }

  function addMessages(items) {
    if (!items.length) return;
    const list = $('messages');
    for (const item of items) {
      const m = Object.assign({ time: new Date() }, item);
      state.messages.unshift(m);
      list.insertBefore(messageNode(m), list.firstChild);
    }
    while (state.messages.length > MAX_MESSAGES) {
      state.messages.pop();
      list.removeChild(list.lastChild);
    }
    $('messages-none').hidden = state.messages.length > 0;
  }

  function renderMessages() {
    const list = $('messages');
    list.textContent = '';
    for (const m of state.messages) list.appendChild(messageNode(m));
    $('messages-none').hidden = state.messages.length > 0;
  }

  function fetchPending() {
    const text = hostGet('errors');
    const items = parsePending(text).map(classify);
    for (const it of items) {
      if (it.event && it.event.unit === 0 && it.event.code === 10) showSerialBanner();
    }
    addMessages(items);
  }

  // ---- serial link state ----------------------------------------------------

  function setLinkState(s) {
    const box = $('link-state');
    box.dataset.state = s;
    if (s === 'silent') {
      const since = sinceText(state.line);
      setI18n($('link-state-text'), since ? 'app.silent' : 'app.silentNever', since ? { since } : undefined);
    } else {
      setI18n($('link-state-text'), s === 'online' ? 'app.online' : s === 'offline' ? 'app.offline' : 'app.starting');
    }
    renderLinkNote();
  }

  function showSerialBanner() {
    $('serial-banner').hidden = false;
    setLinkState('offline');
    $('silent-banner').hidden = true;
    // The device and the system's reason, where the host tells them.
    state.line = readLine() || state.line;
    renderSerialReason();
    // Nothing reaches the press: an ink-up count would promise what does not happen.
    if (state.countdownTimer) {
      clearInterval(state.countdownTimer);
      state.countdownTimer = 0;
      renderCountdown();
    }
  }

  // ---- the line to the press console -----------------------------------------
  // What the host's getLineStatus tells (a host without it: nothing of this shows).

  const COUNTERS = ['answered', 'late', 'silent', 'malformed', 'retries'];
  const SPANS = ['sinceStart', 'lastMinute'];

  function lineAvailable() {
    const h = hostObject();
    return !!h && typeof h.getLineStatus === 'function';
  }

  function readLine() {
    const s = hostCall('getLineStatus');
    return s && typeof s === 'object' && Array.isArray(s.units) ? s : null;
  }

  // "2026-05-27 14:03:07": the time alone when it is today's.
  function stampText(stamp) {
    if (typeof stamp !== 'string' || !stamp) return '';
    const m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}:\d{2}:\d{2})$/.exec(stamp);
    if (!m) return stamp;
    const now = new Date();
    const today = now.getFullYear() === +m[1] && now.getMonth() + 1 === +m[2] && now.getDate() === +m[3];
    return today ? m[4] : stamp;
  }

  function sinceText(s) {
    return s ? stampText(s.lastAnswer) : '';
  }

  function unitsText(list) {
    return list.map((n) => String(n)).join(', ');
  }

  function renderSerialReason() {
    const s = state.line;
    const failure = s && !s.portOpen && typeof s.portFailure === 'string' ? s.portFailure : '';
    $('serial-reason').textContent = failure;
    $('serial-reason').hidden = !failure;
    $('serial-text').hidden = !!failure;
    const advice = $('serial-advice');
    advice.hidden = !failure;
    if (failure) {
      const known = ['dialout', 'busy', 'missing', 'notSerial'];
      setI18n(advice, 'serial.advice.' + (known.includes(s.portAdvice) ? s.portAdvice : 'other'));
    }
  }

  function renderLinkNote() {
    const note = $('link-state-note');
    const s = state.line;
    const silentUnits = s && Array.isArray(s.notAnswering) ? s.notAnswering : [];
    const show = $('link-state').dataset.state === 'online' && silentUnits.length > 0;
    note.hidden = !show;
    if (show) {
      setI18n(note, silentUnits.length === 1 ? 'app.unitSilent' : 'app.unitsSilent', { units: unitsText(silentUnits) });
    }
  }

  function renderSilentBanner() {
    const s = state.line;
    const silent = !!(s && s.portOpen && s.console === 'silent');
    if (!silent) state.silentDismissed = false;
    $('silent-banner').hidden = !silent || state.silentDismissed || !$('serial-banner').hidden;
    if (silent) {
      const since = sinceText(s);
      setI18n($('silent-text'), since ? 'silent.text' : 'silent.textNever', since ? { since } : undefined);
    }
  }

  // Asked every few seconds once the page runs, and every second while the
  // service view is open.
  function refreshLine() {
    const s = readLine();
    if (!s) return;
    state.line = s;
    const box = $('link-state');
    if (s.portOpen && box.dataset.state !== 'offline') {
      const want = s.console === 'silent' ? 'silent' : 'online';
      if (box.dataset.state !== want || want === 'silent') setLinkState(want);
    }
    renderLinkNote();
    renderSilentBanner();
    if (!s.portOpen) renderSerialReason();
    if ($('service-dialog').open) renderService();
  }

  function startLinePolling() {
    clearInterval(state.lineTimer);
    if (!lineAvailable()) return;
    state.lineTimer = setInterval(guard(refreshLine, 'line'), 2000);
    refreshLine();
  }

  function buildServiceHeads() {
    const row = $('service-counter-heads');
    row.textContent = '';
    for (const span of SPANS) {
      for (const c of COUNTERS) {
        const th = document.createElement('th');
        th.scope = 'col';
        th.dataset.span = span;
        th.dataset.i18n = 'service.' + c;
        translateEl(th);
        row.appendChild(th);
      }
    }
  }

  function renderService() {
    const s = state.line;
    const body = $('service-units');
    body.textContent = '';
    if (!s) {
      setI18n($('service-port'), 'service.unavailable');
      $('service-console').textContent = '';
      $('service-not-answering').textContent = '';
      return;
    }
    if (s.portOpen) setI18n($('service-port'), 'service.portOpen');
    else if (s.portFailure) setI18n($('service-port'), 'service.portFailed', { failure: s.portFailure });
    else setI18n($('service-port'), 'service.portClosed');
    const seconds = toInt(s.secondsSinceAnswer, -1);
    const time = stampText(s.lastAnswer);
    const consoleText = $('service-console');
    if (!s.portOpen) setI18n(consoleText, time ? 'service.lastAnswer' : 'service.noAnswerYet', { time, seconds });
    else if (s.console === 'silent') setI18n(consoleText, time ? 'service.silentSince' : 'service.silentNever', { time, seconds });
    else if (time) setI18n(consoleText, 'service.answers', { time, seconds });
    else setI18n(consoleText, 'service.noAnswerYet');
    const silentUnits = Array.isArray(s.notAnswering) ? s.notAnswering : [];
    if (silentUnits.length) $('service-not-answering').textContent = unitsText(silentUnits);
    else setI18n($('service-not-answering'), 'service.none');
    for (const u of s.units) {
      const n = toInt(u && u.unit, 0);
      if (n < 1) continue;
      const tr = document.createElement('tr');
      tr.dataset.unit = String(n);
      const stateName = ['answering', 'notAnswering'].includes(u.state) ? u.state : 'unknown';
      tr.dataset.state = stateName;
      const head = document.createElement('th');
      head.scope = 'row';
      setI18n(head, 'units.unit', { n });
      const cell = document.createElement('td');
      cell.className = 'service-state';
      setI18n(cell, 'service.states.' + stateName);
      tr.append(head, cell);
      for (const span of SPANS) {
        for (const c of COUNTERS) {
          const td = document.createElement('td');
          td.dataset.span = span;
          td.dataset.counter = c;
          td.textContent = String(toInt(u[span] && u[span][c], 0));
          tr.appendChild(td);
        }
      }
      body.appendChild(tr);
    }
  }

  function openService() {
    state.line = readLine() || state.line;
    renderService();
    $('service-dialog').showModal();
    clearInterval(state.serviceTimer);
    state.serviceTimer = setInterval(guard(refreshLine, 'service'), 1000);
  }

  // ---- units ----------------------------------------------------------------

  function unitByNumber(n) {
    n = toInt(n, 0);
    return state.units.find((u) => u.n === n) || null;
  }

  function cycleEnabled() {
    return !!(state.settings && toInt(state.settings.ductorcycle, 0) > 0);
  }

  function cycleLabel(v) {
    return v > 0 ? '1/' + v : String(v);
  }

  function createUnit(n) {
    const el = $('unit-template').content.firstElementChild.cloneNode(true);
    const u = {
      n, el,
      selected: false,
      ductor: null, ductorPress: null,
      cycle: null, cyclePress: null,
      offset: 0, percent: 0,
      progress: 'idle', retry: 0, failed: false, dirty: false,
      keys: null, inkName: '', inkColour: null,
      keysUnknown: false, keysFailed: false,
      edit: null, // per zone: the operator's value, or null where it is the press's
      zoneSel: null, // {anchor, focus} zone indexes of the selection
      lastEntry: null, // offset and percentage before the keys-done event cleared them
    };
    el.dataset.unit = String(n);
    const id = (s) => 'unit' + n + '-' + s;
    el.setAttribute('aria-labelledby', id('name'));
    el.querySelector('.unit-name').id = id('name');
    el.querySelector('.status-text').id = id('status');

    const select = el.querySelector('.unit-select');
    select.addEventListener('click', guard(() => setSelected(u, !u.selected)));

    const dField = el.querySelector('.field-ductor');
    const dInput = dField.querySelector('input');
    dInput.id = id('ductor');
    dField.querySelector('label').htmlFor = dInput.id;
    dInput.setAttribute('aria-describedby', id('ductor-note'));
    dField.querySelector('.field-note').id = id('ductor-note');
    dInput.addEventListener('change', guard(() => setDuctor(u, toInt(dInput.value, u.ductor))));
    // A step needs a value to start from: none while the press's is unknown.
    wireStepper(dField, (d) => {
      const from = u.ductor === null ? u.ductorPress : u.ductor;
      if (from !== null) setDuctor(u, from + d);
    });

    const cField = el.querySelector('.field-cycle');
    const cSelect = cField.querySelector('select');
    cSelect.id = id('cycle');
    cField.querySelector('label').htmlFor = cSelect.id;
    cSelect.setAttribute('aria-describedby', id('cycle-note'));
    cField.querySelector('.field-note').id = id('cycle-note');
    cSelect.addEventListener('change', guard(() => setCycle(u, toInt(cSelect.value, 0))));

    const kField = el.querySelector('.field-keys');
    const kInput = kField.querySelector('input');
    kInput.id = id('keys');
    kField.querySelector('label').htmlFor = kInput.id;
    kInput.addEventListener('change', guard(() => setKeyEntry(u, toInt(kInput.value, 0))));
    wireStepper(kField, (d) => setKeyEntry(u, (state.percentMode ? u.percent : u.offset) + d));

    const bars = el.querySelector('.bars');
    bars.id = id('profile');
    wireZones(u, bars);
    el.querySelectorAll('[data-i18n]').forEach(translateEl);
    return u;
  }

  // Holding a step button repeats it; a keyboard activation steps once.
  function wireStepper(field, step) {
    const buttons = [[field.querySelector('.step-down'), -1], [field.querySelector('.step-up'), 1]];
    for (const [b, d] of buttons) {
      let delay = 0, repeat = 0;
      const stop = () => { clearTimeout(delay); clearInterval(repeat); delay = repeat = 0; };
      b.addEventListener('pointerdown', guard((e) => {
        if (e.button !== 0) return;
        stop();
        step(d);
        delay = setTimeout(() => { repeat = setInterval(guard(() => step(d)), 90); }, 450);
      }));
      ['pointerup', 'pointerleave', 'pointercancel', 'blur'].forEach((ev) => b.addEventListener(ev, stop));
      b.addEventListener('click', guard((e) => { if (e.detail === 0) step(d); }));
    }
  }

  function buildUnits(count) {
    const box = $('units');
    state.units.forEach((u) => u.el.remove());
    state.units = [];
    for (let n = 1; n <= count; n++) {
      const u = createUnit(n);
      state.units.push(u);
      box.appendChild(u.el);
    }
    box.style.setProperty('--unit-count', String(Math.max(1, count)));
    $('no-units').hidden = count > 0;
    state.zoneUnit = null;
    fillCycleSelects();
    buildCopySelects();
    state.units.forEach(renderUnit);
    layoutUnits();
    renderZoneEditor();
  }

  function buildCopySelects() {
    for (const [id, pick] of [['copy-from', 1], ['copy-to', 2]]) {
      const sel = $(id);
      const old = toInt(sel.value, pick);
      sel.textContent = '';
      for (const u of state.units) {
        const o = document.createElement('option');
        o.value = String(u.n);
        o.textContent = String(u.n);
        sel.appendChild(o);
      }
      if (state.units.length) sel.value = String(Math.min(old, state.units.length));
    }
  }

  function fillCycleSelects() {
    for (const u of state.units) fillCycleSelect(u);
  }

  function fillCycleSelect(u) {
    const sel = u.el.querySelector('.cycle-select');
    const values = state.cycleValues.slice();
    for (const v of [u.cycle, u.cyclePress]) {
      if (v !== null && !values.includes(v)) values.push(v);
    }
    sel.textContent = '';
    if (u.cycle === null) {
      const o = document.createElement('option');
      o.value = '';
      o.textContent = '–';
      sel.appendChild(o);
    }
    for (const v of values) {
      const o = document.createElement('option');
      o.value = String(v);
      o.textContent = cycleLabel(v);
      sel.appendChild(o);
    }
    sel.value = u.cycle === null ? '' : String(u.cycle);
  }

  function progressText(u) {
    if (u.keysFailed) return t('progress.keysFailed');
    if (u.failed) return t('progress.failed');
    switch (u.progress) {
      case 'queued': return t('progress.queued');
      case 'start': return t('progress.start');
      case 'retry': return t('progress.retry', { n: u.retry });
      case 'done': return t('progress.done');
      case 'read': return u.keysUnknown ? t('units.unknown') : t('progress.read');
      case 'unknown': return t('units.unknown');
      case 'copying': return t('progress.copying');
      default: return u.dirty ? t('progress.dirty') : t('progress.idle');
    }
  }

  function renderUnit(u) {
    const el = u.el;
    el.dataset.progress = u.failed || u.keysFailed ? 'failed' : u.progress;
    el.classList.toggle('is-selected', u.selected);
    el.classList.toggle('is-dirty', u.dirty);
    const unitTitle = t('units.unit', { n: u.n });
    el.querySelector('.unit-name').textContent = unitTitle;
    const sel = el.querySelector('.unit-select');
    sel.setAttribute('aria-pressed', String(u.selected));

    const colour = u.inkColour || DEFAULT_INK;
    el.style.setProperty('--ink', colour);
    el.style.setProperty('--ink-text', readableOn(colour));
    const ink = el.querySelector('.ink-name');
    ink.textContent = u.inkName;
    ink.hidden = !u.inkName;

    el.querySelector('.status-text').textContent = progressText(u);

    // ductor
    const dLabel = t('units.ductor');
    el.querySelector('.field-ductor .field-label').textContent = dLabel;
    const dInput = el.querySelector('.ductor-input');
    if (document.activeElement !== dInput) dInput.value = u.ductor === null ? '' : String(u.ductor);
    dInput.min = String(RANGE.ductor[0]);
    dInput.max = String(RANGE.ductor[1]);
    stepLabels(el.querySelector('.field-ductor'), dLabel, u.n);
    const dChanged = u.ductor !== null && u.ductorPress !== null && u.ductor !== u.ductorPress;
    el.querySelector('.field-ductor').classList.toggle('is-changed', dChanged);
    setNote(el.querySelector('.ductor-note'), u.ductorPress === null ? t('units.pressUnknown')
      : t('units.press', { value: u.ductorPress }), dChanged);

    // ductor cycle
    const cField = el.querySelector('.field-cycle');
    cField.hidden = !cycleEnabled();
    cField.querySelector('.field-label').textContent = t('units.ductorCycle');
    const cChanged = u.cycle !== null && u.cyclePress !== null && u.cycle !== u.cyclePress;
    cField.classList.toggle('is-changed', cChanged);
    setNote(el.querySelector('.cycle-note'), u.cyclePress === null ? t('units.pressUnknown')
      : t('units.press', { value: cycleLabel(u.cyclePress) }), cChanged);

    // key entry
    const kField = el.querySelector('.field-keys');
    const kLabel = state.percentMode ? t('units.keyPercent') : t('units.keyOffset');
    kField.querySelector('.field-label').textContent = kLabel;
    const kInput = el.querySelector('.keys-input');
    const range = state.percentMode ? RANGE.percent : RANGE.offset;
    kInput.min = String(range[0]);
    kInput.max = String(range[1]);
    const kValue = state.percentMode ? u.percent : u.offset;
    if (document.activeElement !== kInput) kInput.value = String(kValue);
    kField.classList.toggle('is-changed', kValue !== 0);
    stepLabels(kField, kLabel, u.n);

    renderProfile(u);
  }

  // The field's colour shows a change at a glance; the words are for screen readers.
  function setNote(el, text, changed) {
    el.textContent = text;
    if (changed) {
      const hidden = document.createElement('span');
      hidden.className = 'visually-hidden';
      hidden.textContent = ' – ' + t('units.changed');
      el.appendChild(hidden);
    }
  }

  function stepLabels(field, what, n) {
    field.querySelector('.step-down').setAttribute('aria-label', t('units.decrease', { what, n }));
    field.querySelector('.step-up').setAttribute('aria-label', t('units.increase', { what, n }));
  }

  // ---- ink zones: the profile is the editor ----------------------------------

  const pct = (raw) => Math.round(raw * 100 / 255);
  const rawOf = (percent) => clamp(Math.round(percent * 255 / 100), [0, 255]);

  function zoneValue(u, i) {
    return u.edit && u.edit[i] !== null && u.edit[i] !== undefined ? u.edit[i] : u.keys[i];
  }

  function pendingCount(u) {
    return u.edit ? u.edit.filter((v) => v !== null).length : 0;
  }

  function zoneRange(u) {
    if (!u.zoneSel) return null;
    return [Math.min(u.zoneSel.anchor, u.zoneSel.focus), Math.max(u.zoneSel.anchor, u.zoneSel.focus)];
  }

  function editable(u) {
    return !!(u.keys && u.keys.length && !u.keysUnknown);
  }

  function zoneLabel(u, i) {
    const v = zoneValue(u, i);
    let s = t('zones.one', { n: u.n, z: i + 1, v: pct(v) });
    if (v !== u.keys[i]) s += ' (' + t('zones.press', { v: pct(u.keys[i]) }) + ')';
    return s;
  }

  function renderProfile(u) {
    const box = u.el.querySelector('.profile');
    box.classList.toggle('has-ink', !!u.inkName);
    const bars = box.querySelector('.bars');
    const keys = u.keys || [];
    const empty = box.querySelector('.profile-empty');
    empty.hidden = keys.length > 0 && !u.keysUnknown;
    empty.textContent = u.keysUnknown ? t('units.keysUnknown') : t('units.noProfile');
    box.classList.toggle('is-unknown', u.keysUnknown);
    if (bars.childElementCount !== keys.length) {
      bars.textContent = '';
      for (let i = 0; i < keys.length; i++) {
        const z = document.createElement('span');
        z.className = 'zone';
        z.id = 'unit' + u.n + '-zone' + (i + 1);
        z.setAttribute('role', 'option');
        const bar = document.createElement('span');
        bar.className = 'bar';
        const mark = document.createElement('span');
        mark.className = 'press-mark';
        z.append(bar, mark);
        bars.appendChild(z);
      }
    }
    const range = zoneRange(u);
    let sum = 0, max = 0;
    keys.forEach((k, i) => {
      const z = bars.children[i];
      const v = zoneValue(u, i);
      const pending = v !== k;
      z.firstChild.style.height = (v / 255 * 100).toFixed(1) + '%';
      z.lastChild.style.bottom = (k / 255 * 100).toFixed(1) + '%';
      z.classList.toggle('is-pending', pending);
      z.dataset.key = String(v);
      z.dataset.press = String(k);
      const selected = !!range && i >= range[0] && i <= range[1];
      z.setAttribute('aria-selected', String(selected));
      const label = zoneLabel(u, i);
      z.setAttribute('aria-label', label);
      z.title = label;
      sum += k;
      max = Math.max(max, k);
    });
    u.el.classList.toggle('has-pending-zones', pendingCount(u) > 0);
    bars.setAttribute('aria-label', keys.length
      ? t('units.profileLabel', { n: u.n, count: keys.length, mean: Math.round(sum / keys.length), max })
      : t('units.profile') + ': ' + t('units.noProfile'));
    if (range && keys.length) bars.setAttribute('aria-activedescendant', bars.children[u.zoneSel.focus].id);
    else bars.removeAttribute('aria-activedescendant');
    bars.tabIndex = keys.length ? 0 : -1;
    if (state.zoneUnit === u) renderZoneEditor();
  }

  // The shared bar under the units: what is selected, steps, a value, undo.
  function renderZoneEditor() {
    const u = state.zoneUnit;
    const range = u && editable(u) ? zoneRange(u) : null;
    const readout = $('zone-readout');
    if (!range) {
      readout.textContent = u && u.keysUnknown ? t('zones.unknown', { n: u.n }) : t('zones.hint');
    } else {
      const values = [];
      const press = [];
      for (let i = range[0]; i <= range[1]; i++) {
        values.push(pct(zoneValue(u, i)));
        press.push(pct(u.keys[i]));
      }
      const span = (list) => {
        const lo = Math.min(...list), hi = Math.max(...list);
        return lo === hi ? String(lo) : lo + '–' + hi;
      };
      let text = range[0] === range[1]
        ? t('zones.one', { n: u.n, z: range[0] + 1, v: span(values) })
        : t('zones.range', { n: u.n, a: range[0] + 1, b: range[1] + 1, v: span(values) });
      if (values.some((v, i) => v !== press[i]) || pendingInRange(u, range)) {
        text += ' (' + t('zones.press', { v: span(press) }) + ')';
      }
      const count = pendingCount(u);
      if (count) text += ' · ' + t('zones.pending', { count });
      if (u.keysFailed) text += ' · ' + t('zones.failed', { n: u.n });
      readout.textContent = text;
    }
    const input = $('zone-value');
    input.disabled = !range;
    if (document.activeElement !== input) {
      input.value = range ? String(pct(zoneValue(u, range[0]))) : '';
    }
    document.querySelectorAll('#zone-editor .zone-step').forEach((b) => {
      b.disabled = !range;
      const d = +b.dataset.step;
      b.setAttribute('aria-label', t(d > 0 ? 'units.increase' : 'units.decrease',
        { what: t('zones.heading') + ' ' + Math.abs(d) + ' %', n: u ? u.n : '' }));
    });
    const undo = $('zone-undo');
    undo.disabled = !u || pendingCount(u) === 0;
    undo.textContent = u ? t('zones.undo', { n: u.n }) : t('zones.undoNone');
  }

  function pendingInRange(u, range) {
    if (!u.edit) return false;
    for (let i = range[0]; i <= range[1]; i++) if (u.edit[i] !== null) return true;
    return false;
  }

  function setZoneSel(u, anchor, focus) {
    const prev = state.zoneUnit;
    if (prev && prev !== u) {
      prev.zoneSel = null;
      renderProfile(prev);
    }
    state.zoneUnit = u;
    const n = u.keys ? u.keys.length : 0;
    u.zoneSel = n ? { anchor: clamp(anchor, [0, n - 1]), focus: clamp(focus, [0, n - 1]) } : null;
    renderProfile(u);
    renderZoneEditor();
  }

  // The operator's row for the host: the press's keys with the changes in.
  function sendZones(u) {
    if (u.edit && !pendingCount(u)) u.edit = null;
    const row = u.edit ? u.keys.map((k, i) => zoneValue(u, i)).join(',') : '';
    hostCall('setUnitKeys', u.n, row);
  }

  function changeZones(u, change) {
    const range = zoneRange(u);
    if (!range || !editable(u)) return;
    if (!u.edit) u.edit = u.keys.map(() => null);
    for (let i = range[0]; i <= range[1]; i++) {
      const v = clamp(Math.round(change(zoneValue(u, i))), [0, 255]);
      u.edit[i] = v === u.keys[i] ? null : v;
    }
    u.keysFailed = false;
    sendZones(u);
    renderUnit(u);
  }

  // Steps are whole percent of the key range (0 to 255).
  function stepZones(u, percent) {
    changeZones(u, (v) => v + percent * 255 / 100);
  }

  function dropZones(u) {
    if (!u.edit) return;
    u.edit = null;
    u.keysFailed = false;
    sendZones(u);
    renderUnit(u);
  }

  function wireZones(u, bars) {
    let dragging = false;
    const indexAt = (x) => {
      const r = bars.getBoundingClientRect();
      const n = bars.childElementCount;
      return clamp(Math.floor((x - r.left) / Math.max(1, r.width) * n), [0, n - 1]);
    };
    bars.addEventListener('pointerdown', guard((e) => {
      if (e.button !== 0 || !editable(u)) return;
      const i = indexAt(e.clientX);
      if (e.shiftKey && u.zoneSel && state.zoneUnit === u) setZoneSel(u, u.zoneSel.anchor, i);
      else setZoneSel(u, i, i);
      dragging = true;
      try { bars.setPointerCapture(e.pointerId); } catch (err) { /* a pointer already gone */ }
      bars.focus({ preventScroll: true });
      e.preventDefault();
    }));
    bars.addEventListener('pointermove', guard((e) => {
      if (!dragging || !u.zoneSel) return;
      const i = indexAt(e.clientX);
      if (i !== u.zoneSel.focus) setZoneSel(u, u.zoneSel.anchor, i);
    }));
    const stop = () => { dragging = false; };
    ['pointerup', 'pointercancel', 'lostpointercapture'].forEach((ev) => bars.addEventListener(ev, stop));
    bars.addEventListener('focus', guard(() => {
      if (editable(u) && (!u.zoneSel || state.zoneUnit !== u)) setZoneSel(u, 0, 0);
    }));
    bars.addEventListener('keydown', guard((e) => {
      if (!editable(u)) return;
      const n = u.keys.length;
      const sel = u.zoneSel || { anchor: 0, focus: 0 };
      const move = (to) => {
        to = clamp(to, [0, n - 1]);
        setZoneSel(u, e.shiftKey ? sel.anchor : to, to);
      };
      const steps = { ArrowUp: 1, ArrowDown: -1, '+': 1, '=': 1, '-': -1, '−': -1, PageUp: 5, PageDown: -5 };
      if (e.key === 'ArrowLeft') move(sel.focus - 1);
      else if (e.key === 'ArrowRight') move(sel.focus + 1);
      else if (e.key === 'Home') move(0);
      else if (e.key === 'End') move(n - 1);
      else if (Object.prototype.hasOwnProperty.call(steps, e.key)) {
        if (!u.zoneSel) setZoneSel(u, 0, 0);
        stepZones(u, steps[e.key]);
      } else if (e.key === 'Enter') {
        $('zone-value').focus();
        $('zone-value').select();
      } else if (e.key === 'Escape') {
        dropZones(u);
      } else {
        return;
      }
      e.preventDefault();
    }));
  }

  function wireZoneEditor() {
    document.querySelectorAll('#zone-editor .zone-step').forEach((b) => {
      b.addEventListener('click', guard(() => {
        if (state.zoneUnit) stepZones(state.zoneUnit, +b.dataset.step);
      }));
    });
    const input = $('zone-value');
    const take = () => {
      const u = state.zoneUnit;
      const v = toInt(input.value, null);
      if (u && v !== null) changeZones(u, () => rawOf(clamp(v, [0, 100])));
      else renderZoneEditor();
    };
    input.addEventListener('change', guard(take));
    input.addEventListener('keydown', guard((e) => {
      if (e.key !== 'Enter') return;
      e.preventDefault();
      take();
      const u = state.zoneUnit;
      if (u) u.el.querySelector('.bars').focus();
    }));
    $('zone-undo').addEventListener('click', guard(() => {
      if (state.zoneUnit) dropZones(state.zoneUnit);
    }));
    renderZoneEditor();
  }

  // Columns while each unit has room for its controls and its zones; one row
  // per unit otherwise, so that nothing has to be scrolled sideways.
  function layoutUnits() {
    const box = $('units');
    const n = state.units.length;
    if (!n) return;
    const keys = Math.max(1, ...state.units.map((u) => (u.keys ? u.keys.length : 0)),
      toInt(state.settings && state.settings.keys, 0));
    const column = (box.clientWidth - 10 * (n - 1)) / n;
    const rows = column < 210 || column / keys < 5;
    box.classList.toggle('as-rows', rows);
    box.classList.toggle('as-columns', !rows);
  }

  // Black or white text, whichever reads better on the ink colour.
  function readableOn(hex) {
    const m = /^#([0-9a-f]{6})$/i.exec(hex);
    if (!m) return '#fff';
    const v = parseInt(m[1], 16);
    const lin = (c) => { c /= 255; return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4); };
    const l = 0.2126 * lin(v >> 16) + 0.7152 * lin((v >> 8) & 255) + 0.0722 * lin(v & 255);
    return l > 0.179 ? '#111' : '#fff';
  }

  function setSelected(u, on) {
    u.selected = on;
    writeSelection();
    renderUnit(u);
  }

  function writeSelection() {
    const text = state.units.filter((u) => u.selected).map((u) => String(u.n)).join(',');
    hostSet('selectedUnits', text);
    renderSelectionCount();
  }

  function renderSelectionCount() {
    $('selected-count').textContent = t('units.selectedCount', { count: state.units.filter((u) => u.selected).length });
  }

  function setDuctor(u, v) {
    if (v === null || v === undefined || !Number.isFinite(v)) { renderUnit(u); return; }
    v = clamp(Math.trunc(v), RANGE.ductor);
    u.ductor = v;
    hostCall('setUnitDuctorValue', u.n, v);
    renderUnit(u);
  }

  function setCycle(u, v) {
    u.cycle = Math.trunc(v);
    hostCall('setUnitDuctorCycle', u.n, u.cycle);
    fillCycleSelect(u);
    renderUnit(u);
  }

  function setKeyEntry(u, v) {
    if (state.percentMode) {
      u.percent = clamp(Math.trunc(v), RANGE.percent);
      hostCall('setKeysPercentage', u.n, u.percent);
    } else {
      u.offset = clamp(Math.trunc(v), RANGE.offset);
      hostCall('setKeys', u.n, u.offset);
    }
    renderUnit(u);
  }

  function setPercentMode(on) {
    state.percentMode = on;
    hostCall('setKeysMode', on ? 1 : 0);
    setPercentModeView();
    state.units.forEach(renderUnit);
  }

  function markUnits(list, progress) {
    for (const u of list) {
      u.progress = progress;
      u.failed = false;
      u.keysFailed = false;
      renderUnit(u);
    }
  }

  function initialRefresh() {
    if (state.refreshed || !state.started || !state.units.length) return;
    state.refreshed = true;
    hostCall('LoadInitialState');
  }

  // ---- ink-up countdown -------------------------------------------------------

  function renderCountdown() {
    const label = $('ink-up-label');
    const btn = $('ink-up');
    const left = Math.ceil((state.countdownEnd - Date.now()) / 1000);
    if (state.countdownTimer && left > 0) {
      setI18n(label, 'commands.inkingUp', { s: left });
      btn.classList.add('is-counting');
      btn.disabled = true;
    } else {
      clearInterval(state.countdownTimer);
      state.countdownTimer = 0;
      setI18n(label, 'commands.inkUp');
      btn.classList.remove('is-counting');
      btn.disabled = false;
    }
  }

  // ---- copy and swap ---------------------------------------------------------

  function renderCopyStatus() {
    const el = $('copy-status');
    const job = state.copyJob;
    if (!job) { el.textContent = ''; return; }
    if (job.same) { el.textContent = t('copy.same'); return; }
    el.textContent = t(job.swap ? 'copy.swapping' : 'copy.copying', { a: job.a, b: job.b });
  }

  function startCopy(swap) {
    const a = toInt($('copy-from').value, 0);
    const b = toInt($('copy-to').value, 0);
    if (!unitByNumber(a) || !unitByNumber(b)) return;
    if (a === b) {
      state.copyJob = { same: true };
      renderCopyStatus();
      return;
    }
    // Every value of a whole unit changes: the operator says so first.
    askFirst(swap ? 'confirm.swap' : 'confirm.copy', { a, b }, () => {
      state.copyJob = { a, b, swap, started: false };
      renderCopyStatus();
      // The values of the first unit go onto the second.
      hostCall(swap ? 'SwapUnit' : 'CopyUnit', a, b);
    });
  }

  // ---- asking first -------------------------------------------------------------

  let confirmAction = null;

  function askFirst(key, vars, run) {
    confirmAction = run;
    $('confirm-heading').textContent = t(key + 'Title', vars);
    $('confirm-text').textContent = t(key + 'Text', vars);
    $('confirm-ok').textContent = t(key + 'Ok', vars);
    $('confirm-dialog').showModal();
  }

  function selectedText() {
    const list = state.units.filter((u) => u.selected).map((u) => u.n);
    return list.length ? list.join(', ') : t('confirm.noUnits');
  }

  // Zero position and ink-up change every selected unit at once. The host
  // listens on their buttons itself; a click reaches it only once confirmed.
  function gateHostButtons() {
    const gated = { 'set-zero': 'confirm.zero', 'ink-up': 'confirm.inkUp' };
    let passing = null;
    window.addEventListener('click', guard((e) => {
      const button = e.target && e.target.closest ? e.target.closest('button') : null;
      if (!button || !Object.prototype.hasOwnProperty.call(gated, button.id)) return;
      if (passing === button) return;
      e.stopImmediatePropagation();
      e.preventDefault();
      if (button.disabled) return;
      askFirst(gated[button.id], { units: selectedText() }, () => {
        passing = button;
        try { button.click(); } finally { passing = null; }
      });
    }), true);
  }

  // ---- job memory -------------------------------------------------------------

  function buildMemory() {
    const list = $('memory-list');
    list.textContent = '';
    for (let p = 0; p < MEMORY_SLOTS; p++) {
      const li = $('memory-template').content.firstElementChild.cloneNode(true);
      li.dataset.slot = String(p);
      li.querySelector('.memory-title').id = 'memory' + p + '-title';
      li.querySelector('.memory-save').addEventListener('click', guard(() => openMemoryDialog(p, 'save')));
      li.querySelector('.memory-recall').addEventListener('click', guard(() => openMemoryDialog(p, 'recall')));
      list.appendChild(li);
      state.memory[p] = null;
      state.memoryBusy[p] = '';
    }
    renderMemory();
  }

  function renderMemory() {
    document.querySelectorAll('#memory-list .memory-slot').forEach((li) => {
      const p = +li.dataset.slot;
      const job = state.memory[p];
      const busy = state.memoryBusy[p];
      li.dataset.state = busy || (job ? 'job' : 'empty');
      li.querySelector('.memory-title').textContent = t('memory.slot', { n: p + 1 });
      li.querySelector('.memory-desc').textContent = busy ? t(busy === 'saving' ? 'memory.saving' : 'memory.recalling')
        : job ? (job.description || t('memory.noDescription')) : t('memory.empty');
      li.querySelector('.memory-date').textContent = job && job.saved_on ? t('memory.savedOn', { date: job.saved_on }) : '';
      const save = li.querySelector('.memory-save');
      const recall = li.querySelector('.memory-recall');
      save.textContent = t('memory.save');
      recall.textContent = t('memory.recall');
      save.setAttribute('aria-label', t('memory.saveToSlot', { n: p + 1 }));
      recall.setAttribute('aria-label', t('memory.recallSlot', { n: p + 1 }));
      save.disabled = !!busy;
      recall.disabled = !!busy || !job;
    });
  }

  let memoryAction = null;

  function openMemoryDialog(p, action) {
    const job = state.memory[p];
    if (action === 'recall' && !job) return;
    memoryAction = { p, action };
    const dlg = $('memory-dialog');
    $('memory-dialog-heading').textContent = t(action === 'save' ? 'memory.saveToSlot' : 'memory.recallSlot', { n: p + 1 });
    const text = $('memory-dialog-text');
    const descField = $('memory-desc-field');
    if (action === 'save') {
      text.textContent = job ? t('memory.overwrite', { n: p + 1, name: job.description || t('memory.noDescription') }) : '';
      text.hidden = !job;
      descField.hidden = false;
      $('memory-desc').value = job ? job.description : '';
      $('memory-confirm').textContent = t('memory.save');
    } else {
      text.textContent = t('memory.recallText', { name: job.description || t('memory.noDescription'), date: job.saved_on });
      text.hidden = false;
      descField.hidden = true;
      $('memory-confirm').textContent = t('memory.recall');
    }
    dlg.showModal();
    if (action === 'save') $('memory-desc').select();
  }

  function confirmMemory() {
    const act = memoryAction;
    memoryAction = null;
    $('memory-dialog').close();
    if (!act) return;
    if (act.action === 'save') {
      // Control characters would break the job file's line layout.
      const desc = $('memory-desc').value.replace(/[\u0000-\u001f\u007f]/g, ' ').trim().slice(0, 80);
      hostCall('saveConfig', act.p, desc);
    } else {
      state.memoryBusy[act.p] = 'recalling';
      renderMemory();
      clearTimeout(state.recallTimer);
      state.recallTimer = setTimeout(guard(endRecall), 60000);
      hostCall('loadConfig', act.p);
    }
  }

  function endRecall() {
    clearTimeout(state.recallTimer);
    let changed = false;
    state.memoryBusy.forEach((b, i) => { if (b === 'recalling') { state.memoryBusy[i] = ''; changed = true; } });
    if (changed) renderMemory();
  }

  // ---- settings ------------------------------------------------------------------

  function buildFolderFields() {
    const box = $('folder-fields');
    for (const name of FOLDERS) {
      const row = document.createElement('div');
      row.className = 'folder-row';
      const label = document.createElement('label');
      label.className = 'field-label';
      label.htmlFor = 'folder-' + name;
      label.dataset.i18n = 'settings.' + name;
      const input = document.createElement('input');
      input.type = 'text';
      input.id = 'folder-' + name;
      input.name = name;
      input.autocomplete = 'off';
      input.spellcheck = false;
      const btn = document.createElement('button');
      btn.type = 'button';
      btn.className = 'btn btn-secondary browse';
      btn.dataset.i18n = 'settings.browse';
      btn.dataset.folder = name;
      btn.setAttribute('aria-describedby', label.id = 'folder-label-' + name);
      btn.addEventListener('click', guard(() => hostCall('browseFolder', name)));
      row.append(label, input, btn);
      if (name === 'log_path') {
        // Without its folder the library keeps no log, no job memory and no backups.
        const note = document.createElement('div');
        note.id = 'log-folder-missing';
        note.className = 'folder-missing';
        note.setAttribute('role', 'status');
        note.hidden = true;
        const text = document.createElement('span');
        text.dataset.i18n = 'settings.logMissing';
        const create = document.createElement('button');
        create.type = 'button';
        create.id = 'log-folder-create';
        create.className = 'btn btn-small btn-secondary';
        create.dataset.i18n = 'settings.logCreate';
        create.addEventListener('click', guard(() => {
          hostCall('createLogFolder', input.value.trim());
          checkLogFolder();
        }));
        note.append(text, create);
        row.appendChild(note);
        input.addEventListener('change', guard(checkLogFolder));
      }
      box.appendChild(row);
    }
  }

  function checkLogFolder() {
    const path = $('settings-form').elements.log_path.value.trim();
    const exists = hostCall('logFolderExists', path);
    // An older host without the call: say nothing rather than something wrong.
    $('log-folder-missing').hidden = exists !== false;
  }


  function fillSettingsForm(s) {
    const f = $('settings-form');
    for (const name of INT_SETTINGS) f.elements[name].value = String(toInt(s[name], 0));
    f.elements.ductorcycle.value = String(toInt(s.ductorcycle, 0));
    f.elements.preset.checked = s.preset === true || s.preset === 1;
    f.elements.loop.checked = s.loop === true || s.loop === 1;
    for (const name of FOLDERS) f.elements[name].value = typeof s[name] === 'string' ? s[name] : '';
    renderSettingsLanguages();
    f.elements.language.value = typeof s.language === 'string' && s.language ? s.language : state.lang;
    clearSettingsErrors();
  }

  function clearSettingsErrors() {
    document.querySelectorAll('#settings-form .field-error').forEach((e) => { e.textContent = ''; });
    document.querySelectorAll('#settings-form [aria-invalid]').forEach((e) => e.removeAttribute('aria-invalid'));
    setI18n($('settings-status'), 'settings.note');
  }

  function readSettingsForm() {
    const f = $('settings-form');
    clearSettingsErrors();
    const out = {};
    let bad = null;
    for (const name of INT_SETTINGS) {
      const input = f.elements[name];
      const min = +input.dataset.min, max = +input.dataset.max;
      const text = input.value.trim();
      const v = /^-?\d+$/.test(text) ? parseInt(text, 10) : NaN;
      if (!(v >= min && v <= max)) {
        input.setAttribute('aria-invalid', 'true');
        $('err-' + name).textContent = t('settings.range', { min, max });
        bad = bad || input;
      }
      out[name] = v;
    }
    if (bad) {
      setI18n($('settings-status'), 'settings.invalid');
      bad.focus();
      return null;
    }
    out.ductorcycle = toInt(f.elements.ductorcycle.value, 0);
    out.preset = f.elements.preset.checked;
    out.loop = f.elements.loop.checked;
    for (const name of FOLDERS) out[name] = f.elements[name].value.trim();
    out.language = f.elements.language.value || state.lang;
    return out;
  }

  function openSettings() {
    if (state.settings) fillSettingsForm(state.settings);
    const version = hostCall('getVersion');
    const shown = $('program-version');
    shown.hidden = typeof version !== 'string' || version === '';
    if (!shown.hidden) setI18n(shown, 'settings.version', { version });
    checkLogFolder();
    $('settings-dialog').showModal();
  }

  function saveSettings() {
    const s = readSettingsForm();
    if (!s) return;
    const before = state.settings || {};
    state.settings = s;
    $('settings-dialog').close();
    setLanguage(s.language);
    // The host clears the flag again if the port still cannot be opened.
    hostSet('isSerialOpen', 1);
    hostCall('saveSettings', JSON.stringify(s));
    if (hostGet('isSerialOpen') === false) {
      showSerialBanner();
    } else {
      $('serial-banner').hidden = true;
      setLinkState('online');
      refreshLine();
    }
    // Unit count, key count and cycle scale reach the host only at a start: start again.
    if (['units', 'keys', 'ductorcycle'].some((k) => toInt(before[k], -1) !== s[k])) {
      window.location.reload();
    }
  }

  // ---- page functions called by the host -------------------------------------

  function parseJsonArg(v) {
    if (typeof v === 'string') return JSON.parse(v);
    return v;
  }

  const App = {
    loadSettings(json) {
      const s = parseJsonArg(json);
      if (!s || typeof s !== 'object') return;
      state.settings = s;
      fillSettingsForm(s);
      setLanguage(typeof s.language === 'string' && s.language ? s.language : state.lang);
    },

    loadLanguages(json) {
      const l = parseJsonArg(json);
      state.languages = l && typeof l === 'object' ? l : {};
      const wanted = state.settings && state.settings.language ? state.settings.language : state.lang;
      setLanguage(wanted);
    },

    loadUnits(count) {
      const n = Math.max(0, Math.min(MAX_UNITS, toInt(count, 0)));
      buildUnits(n);
      // Take over a selection the host still holds from before a reload.
      const held = String(hostGet('selectedUnits') || '').split(/[\s,]+/).map((x) => toInt(x, 0));
      for (const u of state.units) u.selected = held.includes(u.n);
      writeSelection();
      // The page starts with no pending key changes; make the host agree.
      setPercentMode(false);
      for (const u of state.units) {
        hostCall('setKeys', u.n, 0);
        hostCall('setKeysPercentage', u.n, 0);
      }
      state.units.forEach(renderUnit);
      setTimeout(guard(initialRefresh), 0);
    },

    reloadDuctorCycles() {
      const text = hostGet('ductorCycleValues');
      state.cycleValues = typeof text === 'string'
        ? text.split(',').map((x) => x.trim()).filter((x) => /^-?\d+$/.test(x)).map((x) => parseInt(x, 10))
        : [];
      fillCycleSelects();
      state.units.forEach(renderUnit);
    },

    loadMemory(p, entry) {
      p = toInt(p, -1);
      if (p < 0 || p >= MEMORY_SLOTS) return;
      const e = parseJsonArg(entry) || {};
      state.memory[p] = {
        saved_on: typeof e.saved_on === 'string' ? e.saved_on : '',
        description: typeof e.description === 'string' ? e.description : '',
      };
      if (state.memoryBusy[p] === 'saving') state.memoryBusy[p] = '';
      renderMemory();
    },

    emptyMemory(p) {
      p = toInt(p, -1);
      if (p < 0 || p >= MEMORY_SLOTS) return;
      state.memory[p] = null;
      // an empty position is neither being saved nor recalled any more
      if (state.memoryBusy[p] === 'saving' || state.memoryBusy[p] === 'recalling') state.memoryBusy[p] = '';
      renderMemory();
    },

    savingMemory(p) {
      p = toInt(p, -1);
      if (p < 0 || p >= MEMORY_SLOTS) return;
      state.memoryBusy[p] = 'saving';
      renderMemory();
    },

    makeDirtyValues() {
      for (const u of state.units) {
        u.dirty = true;
        renderUnit(u);
      }
    },

    setSettingsFolder(target, path) {
      if (!FOLDERS.includes(target) || typeof path !== 'string') return;
      const input = $('settings-form').elements[target];
      input.value = path;
      if (target === 'log_path') checkLogFolder();
      if (state.settings && !$('settings-dialog').open) state.settings[target] = path;
    },

    showPendingErrors() {
      fetchPending();
    },

    showSerialError() {
      showSerialBanner();
    },

    setUnitProgress(unit, code) {
      const u = unitByNumber(unit);
      if (!u) return;
      code = toInt(code, -1);
      if (code === 0) {
        u.progress = 'start';
      } else if (code === 1 || code === 2) {
        u.progress = 'retry';
        u.retry = code;
      } else if (code === 3) {
        u.progress = 'retry';
        u.retry = 3;
        u.failed = true; // the third attempt failed: the operation gave up
      } else if (code === 4) {
        u.progress = 'done';
      } else if (code === 5) {
        u.progress = 'read';
      }
      renderUnit(u);
    },

    resetKey(unit) {
      const u = unitByNumber(unit);
      if (!u) return;
      if (u.offset !== 0 || u.percent !== 0) u.lastEntry = { offset: u.offset, percent: u.percent };
      u.offset = 0;
      if (u.percent !== 0) {
        // Applied once; the host would send it again on the next apply.
        u.percent = 0;
        hostCall('setKeysPercentage', u.n, 0);
      }
      renderUnit(u);
    },

    okDuctorValue(unit) {
      const u = unitByNumber(unit);
      if (u) hostCall('GetDuctor', u.n);
    },

    okDuctorCycle(unit) {
      const u = unitByNumber(unit);
      if (u) hostCall('GetDuctorCycle', u.n);
    },

    startUnits(list) {
      let units;
      if (typeof list === 'string') {
        const nums = list.split(',').map((x) => toInt(x, 0));
        units = state.units.filter((u) => nums.includes(u.n));
      } else {
        units = state.units.filter((u) => u.selected);
      }
      markUnits(units, 'queued');
    },

    showCountdown(seconds) {
      const s = Math.max(0, toInt(seconds, 0));
      clearInterval(state.countdownTimer);
      state.countdownTimer = 0;
      if (s > 0) {
        state.countdownEnd = Date.now() + s * 1000;
        state.countdownTimer = setInterval(guard(renderCountdown), 250);
      }
      renderCountdown();
    },

    stopCopyUnit() {
      const job = state.copyJob;
      if (!job || job.same) return;
      for (const n of [job.a, job.b]) {
        const u = unitByNumber(n);
        if (u) {
          u.progress = 'copying';
          u.failed = false;
          u.dirty = true;
          renderUnit(u);
        }
      }
    },

    setDuctorValue(unit, value) {
      const u = unitByNumber(unit);
      if (!u) return;
      const v = toInt(value, 0);
      u.ductor = v;
      u.ductorPress = v;
      u.dirty = false;
      endRecall();
      renderUnit(u);
    },

    setDuctorCycleValue(unit, value) {
      const u = unitByNumber(unit);
      if (!u) return;
      const v = toInt(value, 0);
      u.cycle = v;
      u.cyclePress = v;
      fillCycleSelect(u);
      renderUnit(u);
    },

    // Additions beyond the host's own calls (see README): key profile and ink.
    showUnitKeys(unit, keys) {
      const u = unitByNumber(unit);
      if (!u) return;
      const list = Array.isArray(keys) ? keys : String(keys === undefined || keys === null ? '' : keys).split(',');
      const was = u.keys ? u.keys.length : 0;
      u.keys = list.map((x) => String(x).trim()).filter((x) => x !== '')
        .map((x) => clamp(toInt(x, 0), [0, 255])).slice(0, 500);
      u.keysUnknown = false;
      // Changes stay where they still differ from what the press holds now.
      if (u.edit) {
        const before = u.edit.length === u.keys.length ? u.edit : null;
        u.edit = before ? before.map((v, i) => (v === u.keys[i] ? null : v)) : null;
        sendZones(u);
      }
      if (u.zoneSel && u.zoneSel.focus >= u.keys.length) u.zoneSel = null;
      renderUnit(u);
      if (was !== u.keys.length) layoutUnits();
    },

    // A value the host could not read from the press (kind 1 keys, 2 ductor,
    // 3 cycle): shown as unknown, never as a number.
    showReadFailed(unit, kind) {
      const u = unitByNumber(unit);
      if (!u) return;
      kind = toInt(kind, 0);
      // The read is over: the unit is not at work, and nothing it shows is a value.
      u.progress = 'unknown';
      if (kind === 1) {
        u.keysUnknown = true;
        if (u.edit) dropZones(u);
      } else if (kind === 2) {
        if (u.ductor === u.ductorPress) u.ductor = null;
        u.ductorPress = null;
      } else if (kind === 3) {
        if (u.cycle === u.cyclePress) u.cycle = null;
        u.cyclePress = null;
        fillCycleSelect(u);
      }
      renderUnit(u);
    },

    // The console's answer to a unit's key write, once its commit is known.
    unitKeysResult(unit, result) {
      const u = unitByNumber(unit);
      if (!u) return;
      if (toInt(result, -1) === 0) {
        u.keysFailed = false;
        u.edit = null;
        u.lastEntry = null;
      } else {
        // What the operator entered stays; the host kept it too.
        u.keysFailed = true;
        const last = u.lastEntry;
        if (last) {
          u.offset = last.offset;
          if (last.percent !== 0) {
            u.percent = last.percent;
            hostCall('setKeysPercentage', u.n, u.percent);
          }
        }
      }
      renderUnit(u);
    },

    showUnitInk(unit, name, colour) {
      const u = unitByNumber(unit);
      if (!u) return;
      u.inkName = typeof name === 'string' ? name : '';
      u.inkColour = colourHex(colour);
      renderUnit(u);
    },
  };

  // "#rrggbb", or the library's packed 0x00BBGGRR number.
  function colourHex(c) {
    if (typeof c === 'string' && /^#[0-9a-f]{6}$/i.test(c)) return c.toLowerCase();
    if (typeof c === 'number' && Number.isInteger(c) && c >= 0) {
      const r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
      return '#' + [r, g, b].map((x) => x.toString(16).padStart(2, '0')).join('');
    }
    return null;
  }

  for (const name of Object.keys(App)) App[name] = guard(App[name], 'App.' + name);
  window.App = App;

  // ---- wiring ---------------------------------------------------------------------

  function wire() {
    buildMemory();
    buildFolderFields();
    wireZoneEditor();
    if (typeof ResizeObserver === 'function') new ResizeObserver(guard(layoutUnits)).observe($('units'));
    document.addEventListener('contextmenu', (e) => e.preventDefault());

    $('select-all').addEventListener('click', guard(() => {
      state.units.forEach((u) => { u.selected = true; renderUnit(u); });
      writeSelection();
    }));
    $('select-none').addEventListener('click', guard(() => {
      state.units.forEach((u) => { u.selected = false; renderUnit(u); });
      writeSelection();
    }));
    $('mode-offset').addEventListener('click', guard(() => setPercentMode(false)));
    $('mode-percent').addEventListener('click', guard(() => setPercentMode(true)));
    $('mode-offset').addEventListener('keydown', guard(radioKeys));
    $('mode-percent').addEventListener('keydown', guard(radioKeys));

    // The host binds its own listeners to the five command buttons; these only
    // update what the page shows.
    $('production-refresh').addEventListener('click', guard(() => {
      state.units.forEach((u) => {
        u.failed = false;
        u.keysFailed = false;
        if (u.edit) dropZones(u);
        renderUnit(u);
      });
    }));

    $('copy-unit').addEventListener('click', guard(() => startCopy(false)));
    $('swap-unit').addEventListener('click', guard(() => startCopy(true)));

    $('messages-clear').addEventListener('click', guard(() => {
      state.messages = [];
      renderMessages();
    }));

    $('open-settings').addEventListener('click', guard(openSettings));
    $('serial-settings').addEventListener('click', guard(openSettings));
    $('serial-dismiss').addEventListener('click', guard(() => { $('serial-banner').hidden = true; }));
    $('silent-dismiss').addEventListener('click', guard(() => {
      state.silentDismissed = true;
      $('silent-banner').hidden = true;
    }));
    $('open-service').addEventListener('click', guard(openService));
    $('silent-service').addEventListener('click', guard(openService));
    $('service-dialog').addEventListener('close', () => {
      clearInterval(state.serviceTimer);
      state.serviceTimer = 0;
    });
    buildServiceHeads();
    // A host without the line's status has no service view to offer.
    $('open-service').hidden = !lineAvailable();
    $('settings-form').addEventListener('submit', guard((e) => { e.preventDefault(); saveSettings(); }));
    $('memory-form').addEventListener('submit', guard((e) => { e.preventDefault(); confirmMemory(); }));
    $('confirm-form').addEventListener('submit', guard((e) => {
      e.preventDefault();
      const run = confirmAction;
      confirmAction = null;
      $('confirm-dialog').close();
      if (run) run();
    }));
    $('confirm-dialog').addEventListener('close', () => { confirmAction = null; });
    gateHostButtons();
    document.querySelectorAll('dialog .dialog-close').forEach((b) =>
      b.addEventListener('click', guard(() => b.closest('dialog').close())));

    setLanguage(state.lang);
    setPercentModeView();
  }

  function setPercentModeView() {
    $('mode-offset').setAttribute('aria-checked', String(!state.percentMode));
    $('mode-percent').setAttribute('aria-checked', String(state.percentMode));
    $('mode-offset').tabIndex = state.percentMode ? -1 : 0;
    $('mode-percent').tabIndex = state.percentMode ? 0 : -1;
  }

  function radioKeys(e) {
    if (['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown'].includes(e.key)) {
      e.preventDefault();
      setPercentMode(!state.percentMode);
      (state.percentMode ? $('mode-percent') : $('mode-offset')).focus();
    }
  }

  function start() {
    if (!hostObject()) {
      setLinkState('offline');
      return;
    }
    // The host keeps the flag from an earlier start (a reload after the port came
    // back): this start opens the port again and clears the flag if it fails.
    hostSet('isSerialOpen', 1);
    hostCall('startApp');
    state.started = true;
    if (hostGet('isSerialOpen') === false) showSerialBanner();
    else if ($('serial-banner').hidden) setLinkState('online');
    startLinePolling();
    initialRefresh();
  }

  // English texts for what shows before the host's languages arrive (or if they
  // never do); the host serves the page's folder, so the file is there.
  function loadFallbackTexts() {
    if (!/^https?:$/.test(window.location.protocol) || typeof window.fetch !== 'function') return;
    window.fetch('locales/en.json', { cache: 'no-store' })
      .then((r) => (r.ok ? r.json() : null))
      .then(guard((texts) => {
        if (!texts || typeof texts !== 'object') return;
        state.fallbackTexts = texts;
        setLanguage(state.lang);
      }, 'texts'))
      .catch(() => {});
  }

  loadFallbackTexts();
  guard(wire, 'start')();
  // The host takes page calls only once it has seen the page loaded and its
  // stream open; it says so with tsr-host-ready.
  function whenHostReady(run) {
    if (!hostObject() || window.tsrHostReady) setTimeout(run, 0);
    else window.addEventListener('tsr-host-ready', () => setTimeout(run, 0), { once: true });
  }
  whenHostReady(guard(start, 'startApp'));
})();
