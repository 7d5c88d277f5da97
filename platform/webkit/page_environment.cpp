#include "platform/webkit/page_environment.h"

namespace webkit {

// ES5 only: the page engine has nothing newer. The natives (__wv_*) are captured here and
// taken off the global object, so a page cannot call them with forged arguments later.
// The environment runs before the heap has its document (heaps are made ahead): it hands
// __wv_keepAttach the function that gives it the document's URL and user agent, which the
// web view calls once from native code before any of the page's own scripts run.
const char* const kPageEnvironmentScript = R"JS(
(function (g) {
  var nav = g.__wv_navigate, setT = g.__wv_setTimer, clrT = g.__wv_clearTimer,
      logN = g.__wv_log, innerTextN = g.__wv_innerText, keepAttach = g.__wv_keepAttach,
      href = 'about:blank', ua = '';
  delete g.__wv_navigate; delete g.__wv_setTimer; delete g.__wv_clearTimer;
  delete g.__wv_log; delete g.__wv_innerText; delete g.__wv_keepAttach;

  g.window = g; g.self = g; g.top = g; g.parent = g; g.frames = g;

  function report(x) { logN('error', String(x && x.stack ? x.stack : x)); }

  function makeTarget(o) {
    var map = {};
    o.addEventListener = function (t, f) {
      if (typeof f !== 'function' && !(f && typeof f.handleEvent === 'function')) return;
      var l = map[t] || (map[t] = []);
      for (var i = 0; i < l.length; i++) if (l[i] === f) return;
      l.push(f);
    };
    o.removeEventListener = function (t, f) {
      var l = map[t];
      if (!l) return;
      for (var i = 0; i < l.length; i++) if (l[i] === f) { l.splice(i, 1); return; }
    };
    o.dispatchEvent = function (e) {
      if (!e || !e.type) return true;
      if (!e.target) e.target = o;
      e.currentTarget = o;
      var l = (map[e.type] || []).slice();
      for (var i = 0; i < l.length; i++) {
        try { if (typeof l[i] === 'function') l[i].call(o, e); else l[i].handleEvent(e); } catch (x) { report(x); }
      }
      var h = o['on' + e.type];
      if (typeof h === 'function') { try { h.call(o, e); } catch (x2) { report(x2); } }
      return !e.defaultPrevented;
    };
  }

  function Event(type, init) {
    this.type = String(type === undefined ? '' : type);
    this.bubbles = !!(init && init.bubbles);
    this.cancelable = !!(init && init.cancelable);
    this.defaultPrevented = false;
    this.timeStamp = Date.now();
  }
  Event.prototype.initEvent = function (t, b, c) { this.type = String(t); this.bubbles = !!b; this.cancelable = !!c; };
  Event.prototype.preventDefault = function () { if (this.cancelable) this.defaultPrevented = true; };
  Event.prototype.stopPropagation = function () {};
  g.Event = Event;
  function CustomEvent(t, init) { Event.call(this, t, init); this.detail = init ? init.detail : null; }
  CustomEvent.prototype = Event.prototype;
  g.CustomEvent = CustomEvent;
  makeTarget(g);

  var body = { innerHTML: '', style: {}, tagName: 'BODY' };
  function text() { return innerTextN(String(body.innerHTML)); }
  Object.defineProperty(body, 'innerText', { get: text, set: function (v) {
    body.innerHTML = String(v).replace(/&/g, '&amp;').replace(/</g, '&lt;'); } });
  Object.defineProperty(body, 'textContent', { get: text });
  body.appendChild = function (c) { return c; };

  function element(tag) {
    return { tagName: String(tag).toUpperCase(), style: {}, childNodes: [],
      setAttribute: function (k, v) { this[k] = String(v); },
      getAttribute: function (k) { return this.hasOwnProperty(k) ? this[k] : null; },
      appendChild: function (c) { this.childNodes.push(c); return c; },
      addEventListener: function () {}, removeEventListener: function () {} };
  }

  var doc = {
    readyState: 'loading', body: body, documentElement: element('html'), head: element('head'),
    title: '', referrer: '', cookie: '',
    createEvent: function () { return new Event(''); },
    createElement: element,
    getElementById: function () { return null; },
    getElementsByTagName: function () { return []; },
    querySelector: function () { return null; },
    querySelectorAll: function () { return []; },
    write: function () { for (var i = 0; i < arguments.length; i++) body.innerHTML += String(arguments[i]); },
    writeln: function () { doc.write.apply(doc, arguments); body.innerHTML += '\n'; }
  };
  makeTarget(doc);
  Object.defineProperty(doc, 'URL', { get: function () { return href; } });
  g.document = doc;

  function parts(h) {
    var m = /^([a-zA-Z][a-zA-Z0-9+.\-]*:)(\/\/([^\/?#]*))?([^?#]*)(\?[^#]*)?(#.*)?$/.exec(h) || [];
    var host = m[3] || '', i = host.lastIndexOf(':');
    return { protocol: m[1] || '', host: host, hostname: i < 0 ? host : host.substring(0, i),
             port: i < 0 ? '' : host.substring(i + 1), pathname: m[4] || '', search: m[5] || '', hash: m[6] || '' };
  }
  var loc = {};
  Object.defineProperty(loc, 'href', { enumerable: true,
    get: function () { return href; }, set: function (v) { nav(String(v), 5); } });
  var keys = ['protocol', 'host', 'hostname', 'port', 'pathname', 'search', 'hash'];
  for (var k = 0; k < keys.length; k++) {
    (function (key) { Object.defineProperty(loc, key, { enumerable: true, get: function () { return parts(href)[key]; } }); })(keys[k]);
  }
  loc.assign = function (u) { nav(String(u), 5); };
  loc.replace = function (u) { nav(String(u), 5); };
  loc.reload = function () { nav(href, 3); };
  loc.toString = function () { return href; };
  Object.defineProperty(g, 'location', { get: function () { return loc; }, set: function (v) { nav(String(v), 5); } });
  Object.defineProperty(doc, 'location', { get: function () { return loc; }, set: function (v) { nav(String(v), 5); } });

  g.navigator = { userAgent: ua, language: 'en-US', platform: 'Linux', onLine: true, cookieEnabled: false };
  g.screen = { width: 320, height: 568 };
  g.devicePixelRatio = 1;

  function joined(args) { var a = []; for (var i = 0; i < args.length; i++) a.push(String(args[i])); return a.join(' '); }
  g.console = {
    log: function () { logN('log', joined(arguments)); }, info: function () { logN('info', joined(arguments)); },
    warn: function () { logN('warn', joined(arguments)); }, error: function () { logN('error', joined(arguments)); },
    debug: function () { logN('debug', joined(arguments)); }
  };

  function timer(f, ms, repeats, args) {
    if (typeof f !== 'function') { var src = String(f); f = function () { (0, eval)(src); }; }
    return setT(function () { f.apply(g, args); }, Number(ms) || 0, repeats);
  }
  g.setTimeout = function (f, ms) { return timer(f, ms, false, Array.prototype.slice.call(arguments, 2)); };
  g.setInterval = function (f, ms) { return timer(f, ms, true, Array.prototype.slice.call(arguments, 2)); };
  g.clearTimeout = function (id) { clrT(Number(id) || 0); };
  g.clearInterval = g.clearTimeout;
  g.open = function (u) { if (u !== undefined) nav(String(u), 5); return null; };
  g.alert = function (m) { logN('alert', String(m)); };
  g.confirm = function () { return false; };
  g.prompt = function () { return null; };

  keepAttach(function (documentURL, userAgent) {
    href = String(documentURL);
    ua = String(userAgent);
    g.navigator.userAgent = ua;
  });
})(this);
)JS";

}  // namespace webkit
