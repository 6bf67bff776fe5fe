// The test page: records every page call the host makes (any App function),
// and what the page itself sees of keys and the context menu. It never writes
// to the console on its own: the host shows console messages as modal boxes.
(function () {
  'use strict';
  window.hostAtStart = typeof window.host;
  window.pageCalls = [];
  window.keysSeen = [];
  window.menus = [];

  // Any App.name(...) the host sends is recorded as [name, ...args].
  window.App = new Proxy({}, {
    get(target, name) {
      if (typeof name !== 'string') return undefined;
      return function (...args) { window.pageCalls.push([name, ...args]); };
    },
  });

  // Page calls named name, in arrival order.
  window.callsOf = function (name) {
    return window.pageCalls.filter((c) => c[0] === name);
  };

  // The page's own listeners run after the bridge's capture-phase listeners.
  window.addEventListener('keydown', (e) => window.keysSeen.push(e.key));
  window.addEventListener('contextmenu', (e) => window.menus.push(e.defaultPrevented));

  window.addEventListener('load', () => { document.getElementById('state').textContent = 'loaded'; });
})();
