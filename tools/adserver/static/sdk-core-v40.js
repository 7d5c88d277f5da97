/*
 * The SDK-core page. Native code calls the QVRA_ functions once the page has loaded; the
 * page answers with bridge messages (navigations to qomb://sdk/<name>?<key>=<value>&...,
 * posted to the web view's bridge channel, or each in a frame of its own where there is
 * none, so several in one turn all arrive).
 * Every ad request gets exactly one answer carrying its request_id as received, unless the
 * scenario silences it. ES5.
 *
 * QVRA_CONFIG (from sdk-core-config.js, written by the ad server from its scenario):
 *   ad_path    path of ad URLs on this server (default "/qads/ad")
 *   answers    rules [{when: {param: value}, answer: "loadAdURL" | "loadAd" | "invalidRequest"
 *              | "fetchAd" | "silence", ad: {...fetched_ad keys}, extra: {...more loadAdURL params},
 *              is_mediation: bool}], the first whose "when" matches wins; default loadAdURL
 *   constants  server constants, name to text; "vistrace_report_path" (ours, not the
 *              network's) has the page GET that path with a unit's geometry whenever the
 *              unit's screenOrientation changes, for tests to read what native code reported
 */
(function (g) {
  var PAGE_PATH = '/qads/static/sdk/native/sdk-core-v40.html';
  var config = g.QVRA_CONFIG || {};
  var outbox = [];
  var ready = false;
  var answered = {};
  var fetches = {};
  var nextFetch = 1;
  var units = {};

  function base() {
    var h = String(location.href), i = h.indexOf(PAGE_PATH);
    return i >= 0 ? h.substring(0, i) : location.protocol + '//' + location.host;
  }
  function text(v) {
    if (v === null || v === undefined) return '';
    if (typeof v === 'object') return JSON.stringify(v);
    return String(v);
  }
  function query(params, sorted) {
    var keys = [], q = [], k, i;
    for (k in params) if (params.hasOwnProperty(k) && params[k] !== undefined) keys.push(k);
    if (sorted) keys.sort();
    for (i = 0; i < keys.length; i++) q.push(encodeURIComponent(keys[i]) + '=' + encodeURIComponent(text(params[keys[i]])));
    return q.join('&');
  }
  // Each message is posted to the host's bridge channel where the web view offers one;
  // elsewhere it leaves through a frame of its own: assignments to location.href in one
  // turn of the page would leave as the last one alone, as browsers coalesce them.
  var handlers = g.webkit && g.webkit.messageHandlers;
  var channel = handlers && handlers.wardvaneBridge;
  function deliver(url) {
    if (channel) { channel.postMessage(url); return; }
    var f = document.createElement('iframe');
    f.style.display = 'none';
    f.src = url;
    (document.body || document.documentElement).appendChild(f);
    setTimeout(function () { if (f.parentNode) f.parentNode.removeChild(f); }, 1000);
  }
  function flush() {
    var o = outbox;
    outbox = [];
    for (var i = 0; i < o.length; i++) deliver(o[i]);
  }
  // Native code calls only once the page has loaded, so the first call opens the way.
  function open() {
    if (!ready) { ready = true; flush(); }
  }
  function send(name, params) {
    var q = query(params || {}, false);
    var url = 'qomb://sdk/' + name + (q ? '?' + q : '');
    if (!ready) { outbox.push(url); return; }
    deliver(url);
  }
  function copy(from, to) {
    if (from) for (var k in from) if (from.hasOwnProperty(k)) to[k] = from[k];
    return to;
  }

  function adURL(params) {
    return base() + (config.ad_path || '/qads/ad') + '?' + query(params, true);
  }
  function matches(rule, params) {
    var w = rule.when || {};
    for (var k in w) if (w.hasOwnProperty(k) && text(params[k]) !== String(w[k])) return false;
    return true;
  }
  function fetchHttp(request, done) {
    var id = String(nextFetch++);
    fetches[id] = done;
    send('fetchHttpRequest', { http_request: JSON.stringify({
      http_request_id: id, url: request.url, post_body: request.post_body,
      content_type: request.content_type, headers: request.headers || [] }) });
    return id;
  }
  function answer(params, mediation) {
    var id = params.request_id, rules = config.answers || [], rule = null, i;
    if (typeof id !== 'string' || id === '' || answered.hasOwnProperty(id)) return;
    answered[id] = true;
    for (i = 0; i < rules.length; i++) if (matches(rules[i], params)) { rule = rules[i]; break; }
    var kind = (rule && rule.answer) || 'loadAdURL';
    if (kind === 'silence') {
      // The request is never answered, as with a page that lost it.
    } else if (kind === 'invalidRequest') {
      send('invalidRequest', { request_id: id });
    } else if (kind === 'loadAd') {
      var ad = copy(rule.ad, {});
      ad.is_mediation = !!(rule.is_mediation || (mediation && rule.is_mediation !== false));
      send('loadAd', { request_id: id, fetched_ad: JSON.stringify(ad) });
    } else if (kind === 'fetchAd') {
      fetchHttp({ url: adURL(params) }, function (ok, response) {
        if (!ok) { send('invalidRequest', { request_id: id }); return; }
        send('loadAd', { request_id: id, fetched_ad: JSON.stringify({
          is_mediation: false, ad_html: response.body, ad_base_url: base() + '/' }) });
      });
    } else {
      send('loadAdURL', copy(rule && rule.extra, { request_id: id, url: adURL(params) }));
    }
  }

  g.QVRA_getAd = function (params) { open(); answer(params || {}, false); };
  g.QVRA_getAdapterLessMediationAd = function (params) { open(); answer(params || {}, true); };
  g.QVRA_getSdkConstants = function () {
    open();
    var b = base() + '/qads/static/sdk/native/mraid/v2/';
    var c = { mraid_banner_path: b + 'mraid_app_banner.js', mraid_interstitial_path: b + 'mraid_app_interstitial.js',
              mraid_expanded_banner_path: b + 'mraid_app_expanded_banner.js',
              use_new_web_views_for_vistrace: '0', mraid_disable_redirect: '0' };
    var own = config.constants || {};
    for (var k in own) if (own.hasOwnProperty(k)) c[k] = text(own[k]);
    send('loadSdkConstants', c);
  };
  g.QVRA_ReceiveMessage = function (name, message) {
    open();
    if (name === 'fetchHttpRequestCompleted' && message && message.response) {
      var id = String(message.response.http_request_id), done = fetches[id];
      if (!done) return;  // an answer for a fetch of an earlier page
      delete fetches[id];
      done(message.success === 'true', message.response, message.reason);
    } else if (name === 'navigationBlocked') {
      (g.QVRA_blockedNavigations = g.QVRA_blockedNavigations || []).push(message || {});
    }
  };
  var reportedOrientation = {};
  function reportGeometry(id, u) {
    var path = config.constants && config.constants.vistrace_report_path;
    if (!path || reportedOrientation[id] === u.screenOrientation) return;
    reportedOrientation[id] = u.screenOrientation;
    var x = new XMLHttpRequest();
    x.open('GET', base() + path + '?' + query({ hashCode: u.hashCode, adFormat: u.adFormat,
      screenOrientation: u.screenOrientation, screenDimension: u.screenDimension, adBox: u.adBox,
      viewBox: u.viewBox }, true));
    x.send();
  }
  g.QVRA_updateVistrace = function (arg) {
    open();
    var list = (arg && arg.units) || [];
    for (var i = 0; i < list.length; i++) {
      var u = list[i], id = String(u.hashCode), known = units[id];
      if (known && known.done) continue;
      if (u.doneReasonCode === 'u') {
        units[id] = { done: true };
        send('untrackVistraceUnit', { hashCode: id });
        continue;
      }
      reportGeometry(id, u);
      var visible = u.isVisible === '1' ? '1' : '0';
      if (!known || known.visible !== visible) send('visibilityChanged', { hashCode: id, isVisible: visible });
      units[id] = { visible: visible };
    }
  };
  g.QVRA_fetch = fetchHttp;
  g.QVRA_requestReload = function () { send('requestReload', {}); };
})(this);
