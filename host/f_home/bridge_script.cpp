#include "f_home/bridge_script.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace {

// A ring of twelve segments turning one step every 100 ms.
std::string RingImage() {
    std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='60' height='60' viewBox='0 0 60 60'><g>"
                      "<animateTransform attributeName='transform' type='rotate' calcMode='discrete' "
                      "dur='1.2s' repeatCount='indefinite' values='";
    for (int step = 0; step < 12; ++step)
        svg += (step ? ";" : "") + std::to_string(step * 30) + " 30 30";
    svg += "'/>";
    for (int segment = 0; segment < 12; ++segment) {
        const char* colour = segment == 0   ? "#800040"
                             : segment == 1 ? "#0000A0"
                             : segment < 5  ? "#9F9FFF"
                                            : "#C0C0C0";
        svg += "<rect x='27' y='2' width='6' height='15' rx='2' fill='" + std::string(colour) +
               "' transform='rotate(" + std::to_string(-segment * 30) + " 30 30)'/>";
    }
    svg += "</g></svg>";
    std::string encoded;
    for (char c : svg) {
        if (c == '#')
            encoded += "%23";
        else if (c == '<')
            encoded += "%3C";
        else if (c == '>')
            encoded += "%3E";
        else
            encoded += c;
    }
    return encoded;
}

const char* const kScript = R"JS((function () {
  'use strict';
  var base = __BASE__, page = __PAGE__, names = __NAMES__, properties = __PROPERTIES__,
      objectName = __OBJECT__;
  var root = document.documentElement;

  function post(path, body) {
    var x = new XMLHttpRequest();
    x.open('POST', base + path, false);
    x.setRequestHeader('Content-Type', 'application/json');
    x.send(JSON.stringify(body));
    return x.status === 200 ? JSON.parse(x.responseText) : null;
  }
  function tryPost(path, body) {
    try { return post(path, body); } catch (e) { return null; }
  }
  function postLater(path, body) {
    try {
      fetch(base + path, {method: 'POST', headers: {'Content-Type': 'application/json'},
                          body: JSON.stringify(body), keepalive: true}).catch(function () {});
    } catch (e) {}
  }
  function access(kind, name, args) {
    var reply;
    try { reply = post('call', {kind: kind, op: name, args: args}); } catch (e) { return undefined; }
    return reply && !reply.refused && 'value' in reply ? reply.value : undefined;
  }

  var object = {};
  names.forEach(function (name) {
    object[name] = function () { return access('call', name, Array.prototype.slice.call(arguments)); };
  });
  properties.forEach(function (name) {
    Object.defineProperty(object, name, {
      enumerable: true,
      get: function () { return access('get', name, []); },
      set: function (value) { access('set', name, [value]); }
    });
  });
  Object.defineProperty(window, objectName, {value: Object.freeze(object), enumerable: true});

  function report(message, source, line) {
    postLater('event', {type: 'console', message: String(message), source: source || '', line: line || 0});
  }
  function text(value) {
    try { return String(value); } catch (e) { return '?'; }
  }
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    var original = console[level];
    console[level] = function () {
      report(Array.prototype.map.call(arguments, text).join(' '));
      return original.apply(console, arguments);
    };
  });
  window.addEventListener('error', function (e) { report(e.message, e.filename, e.lineno); });
  window.addEventListener('unhandledrejection', function (e) {
    var reason = e.reason;
    report('Uncaught (in promise) ' + (reason instanceof Error ? reason.name + ': ' + reason.message : text(reason)));
  });

  var bound = new WeakMap();
  function bind(id) {
    var element = document.getElementById(id);
    if (!element) return;
    var ids = bound.get(element) || {};
    bound.set(element, ids);
    if (ids[id]) return;
    ids[id] = true;
    element.addEventListener('click', function () { tryPost('event', {type: 'click', id: id}); }, true);
  }

  // The host's folder picker: a dialog of the bridge's own in a shadow root, so
  // the page's styles neither reach it nor are touched by it.
  var picker = null;
  function closePicker(chosen) {
    if (!picker) return;
    var done = picker;
    picker = null;
    done.host.remove();
    postLater('event', {type: 'picked', id: done.id, path: chosen});
    if (done.returnFocus && done.returnFocus.focus) done.returnFocus.focus();
  }
  function openPicker(id, start) {
    if (picker) closePicker(null);
    var host = document.createElement('tsr-folder-picker');
    var shadow = host.attachShadow({mode: 'open'});
    // A modal dialog of its own: it goes above the page's own modal dialogs
    // (the settings dialog the "Browse…" buttons are in) and makes them inert.
    shadow.innerHTML =
      '<style>:host{all:initial}' +
      'dialog{font:14px/1.4 system-ui,sans-serif;color:#111;background:#fff;border:0;border-radius:6px;' +
      'box-shadow:0 4px 24px rgba(0,0,0,.4);width:min(560px,92vw);max-height:80vh;padding:16px;box-sizing:border-box}' +
      'dialog[open]{display:flex;flex-direction:column}dialog::backdrop{background:rgba(0,0,0,.45)}' +
      'h2{font-size:18px;margin:0 0 8px}.path{font-family:monospace;word-break:break-all;margin:0 0 8px}' +
      'ul{list-style:none;margin:0;padding:0;overflow:auto;flex:1;border:1px solid #767676;min-height:120px}' +
      'li button{display:block;width:100%;text-align:left;background:#fff;color:#111;border:0;padding:6px 8px;font:inherit}' +
      'li button:focus,li button:hover{background:#dbe7ff;outline:2px solid #0b57d0}' +
      '.error{color:#a00000;margin:8px 0 0}.row{display:flex;gap:8px;justify-content:flex-end;margin-top:12px}' +
      '.row button{font:inherit;padding:6px 14px;border:1px solid #444;border-radius:4px;background:#f2f2f2;color:#111}' +
      '.row button.main{background:#0b57d0;color:#fff;border-color:#0b57d0}' +
      '.row button:focus{outline:2px solid #111;outline-offset:2px}</style>' +
      '<dialog id="picker" aria-labelledby="title">' +
      '<h2 id="title">Choose a folder</h2><p class="path" id="path" aria-live="polite"></p>' +
      '<ul id="folders" aria-label="Folders"></ul><p class="error" id="error" role="alert"></p>' +
      '<div class="row"><button type="button" id="up">Up one level</button>' +
      '<button type="button" id="cancel">Cancel</button>' +
      '<button type="button" id="choose" class="main">Choose this folder</button></div></dialog>';
    var state = {id: id, host: host, shadow: shadow, path: '', parent: '', returnFocus: document.activeElement};
    picker = state;
    function $(name) { return shadow.getElementById(name); }
    function show(path) {
      var reply = tryPost('event', {type: 'folders', id: id, path: path});
      var listing = reply && reply.value ? reply.value : {path: path, parent: '', folders: [], error: 'no answer'};
      state.path = listing.path;
      state.parent = listing.parent;
      $('path').textContent = listing.path;
      $('error').textContent = listing.error || '';
      $('up').disabled = !listing.parent;
      var list = $('folders');
      list.textContent = '';
      listing.folders.forEach(function (name) {
        var item = document.createElement('li');
        var button = document.createElement('button');
        button.type = 'button';
        button.textContent = name;
        button.addEventListener('click', function () {
          show(listing.path.replace(/\/+$/, '') + '/' + name);
        });
        item.appendChild(button);
        list.appendChild(item);
      });
      var first = list.querySelector('button');
      (first || $('choose')).focus();
    }
    $('up').addEventListener('click', function () { if (state.parent) show(state.parent); });
    $('cancel').addEventListener('click', function () { closePicker(null); });
    $('choose').addEventListener('click', function () { closePicker(state.path); });
    $('picker').addEventListener('cancel', function (e) { e.preventDefault(); closePicker(null); });
    shadow.addEventListener('keydown', function (e) {
      if (e.key === 'Escape') { e.preventDefault(); closePicker(null); return; }
      if (e.key !== 'Tab') return;
      // Focus stays in the dialog.
      var all = Array.prototype.filter.call(shadow.querySelectorAll('button'), function (b) { return !b.disabled; });
      if (!all.length) return;
      var at = all.indexOf(shadow.activeElement);
      if (e.shiftKey && at <= 0) { e.preventDefault(); all[all.length - 1].focus(); }
      else if (!e.shiftKey && at === all.length - 1) { e.preventDefault(); all[0].focus(); }
    });
    (document.body || root).appendChild(host);
    $('picker').showModal();
    show(start);
  }

  // Calls of the host's additions to the page contract reach only a page that
  // defines them; a page that keeps to the contract alone never hears of them.
  var additions = /^App\.(showUnitKeys|showUnitInk|showReadFailed|unitKeysResult)\(/;
  function lacksAddition(code) {
    var m = additions.exec(code);
    return m !== null && !(typeof App === 'object' && App !== null && typeof App[m[1]] === 'function');
  }

  // Modal messages queue: each waits for the one before it to be closed.
  function handle(message) {
    switch (message.k) {
    case 'js':
      if (lacksAddition(message.c)) break;
      try { (0, eval)(message.c); } catch (err) { report('Uncaught ' + err); }
      break;
    case 'bind': bind(message.id); break;
    case 'show': root.classList.add('tsr-shown'); break;
    case 'modal': window.alert(message.text); break;
    case 'picker': openPicker(message.id, message.start); break;
    case 'focus': window.focus(); break;
    }
  }

  var loaded = false, open = false, announced = false;
  function announce() {
    if (!loaded || !open || announced) return;
    announced = true;
    var navigation = performance.getEntriesByType ? performance.getEntriesByType('navigation')[0] : null;
    tryPost('event', {type: 'loadend', status: (navigation && navigation.responseStatus) || 200});
    // Page calls reach the page from the start; this tells a page that waits for it.
    window.tsrHostReady = true;
    window.dispatchEvent(new Event('tsr-host-ready'));
  }
  var stream = new EventSource(base + 'stream?page=' + page);
  stream.onopen = function () { open = true; announce(); };
  stream.onmessage = function (e) { handle(JSON.parse(e.data)); };
  window.addEventListener('load', function () { loaded = true; announce(); });

  document.addEventListener('contextmenu', function (e) {
    var reply = tryPost('event', {type: 'menu'});
    if (reply && reply.value) e.preventDefault();
  }, true);
  window.addEventListener('keydown', function (e) {
    var functionKey = e.keyCode >= 112 && e.keyCode <= 135;
    if (!functionKey && !e.ctrlKey && !e.altKey && !e.metaKey) return;
    var reply = tryPost('event', {type: 'key', keyCode: e.keyCode});
    if (!reply || !reply.value) return;
    e.stopImmediatePropagation();
    if (!reply.passDefault) e.preventDefault();
  }, true);
  window.addEventListener('resize', function () {
    var w = Math.max(window.outerWidth, 900), h = Math.max(window.outerHeight, 600);
    if (window.outerWidth && (w !== window.outerWidth || h !== window.outerHeight)) {
      try { window.resizeTo(w, h); } catch (e) {}
    }
  });
})();)JS";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

size_t FindNoCase(const std::string& text, const std::string& needle) {
    auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it == text.end() ? std::string::npos : static_cast<size_t>(it - text.begin());
}

} // namespace

BridgeMarkup MakeBridgeMarkup(const BridgeScriptSetup& setup) {
    std::string script = kScript;
    // JSON literals are script literals; "</" is escaped so no text can end the script element.
    auto literal = [](const nlohmann::json& value) {
        std::string text = value.dump();
        ReplaceAll(text, "</", "<\\/");
        return text;
    };
    ReplaceAll(script, "__BASE__", literal(setup.base));
    ReplaceAll(script, "__NAMES__", literal(setup.operations));
    ReplaceAll(script, "__PROPERTIES__", literal(setup.properties));
    ReplaceAll(script, "__OBJECT__", literal(setup.objectName));
    ReplaceAll(script, "__PAGE__", literal(setup.page));
    // Until the host shows the page (its load-end), only the ring on white is seen.
    BridgeMarkup markup;
    markup.style = "<style>html:not(.tsr-shown){background:#fff url(\"data:image/svg+xml," + RingImage() +
                   "\") no-repeat fixed center !important;min-height:100%}"
                   "html:not(.tsr-shown) body{visibility:hidden !important}</style>\n";
    markup.script = "<script>" + script + "</script>\n";
    return markup;
}

std::string InjectBridge(const std::string& html, const BridgeMarkup& markup) {
    const size_t head = FindNoCase(html, "</head>");
    size_t script = FindNoCase(html, "<script");
    if (script == std::string::npos)
        script = head;
    if (script == std::string::npos)
        script = FindNoCase(html, "<body");
    if (script == std::string::npos)
        script = 0;
    std::string result = html;
    result.insert(script, markup.script);
    // The style goes into the head even when the first script comes later in the body.
    result.insert(head != std::string::npos && head < script ? head : script, markup.style);
    return result;
}
