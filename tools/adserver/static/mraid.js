/*
 * The MRAID interface for ad creatives: the 2.0 calls and events, and the 3.0 ones whose
 * native side the ad component carries ("exposureChange"). Creatives call `mraid.*`;
 * the script turns calls into bridge messages (navigations to qomb://mraid/<name>?...)
 * and native events (QVRA_ReceiveMessage(name, params)) into MRAID state and events.
 *
 * The server puts one line before this text that names the placement:
 *   window.QVRA_MRAID_PLACEMENT = 'inline' | 'interstitial';
 * Written in ES5 so that every engine that shows ads runs it.
 */
(function (window) {
  'use strict';
  if (window.mraid && window.mraid.__wardvane) return;

  var PLACEMENT = window.QVRA_MRAID_PLACEMENT === 'interstitial' ? 'interstitial' : 'inline';
  var EVENTS = ['ready', 'error', 'stateChange', 'viewableChange', 'sizeChange', 'exposureChange'];
  var STATES = ['loading', 'default', 'expanded', 'resized', 'hidden'];
  var CLOSE_POSITIONS = ['top-left', 'top-center', 'top-right', 'center', 'bottom-left', 'bottom-center',
                         'bottom-right'];
  var FORCE_ORIENTATIONS = ['portrait', 'landscape', 'none'];

  var state = 'loading';
  var viewable = false;
  var listeners = {};
  var features = { sms: false, tel: false, calendar: false, storePicture: false, inlineVideo: false };
  var expandProperties = { width: -1, height: -1, useCustomClose: false, isModal: true };
  var resizeProperties = null;
  var orientationProperties = { allowOrientationChange: true, forceOrientation: 'none' };
  var currentPosition = { x: 0, y: 0, width: 0, height: 0 };
  var defaultPosition = { x: 0, y: 0, width: 0, height: 0 };
  var maxSize = { width: 0, height: 0 };
  var screenSize = { width: 0, height: 0 };

  function has(list, value) {
    for (var i = 0; i < list.length; i++) if (list[i] === value) return true;
    return false;
  }
  function copy(o) {
    var out = {};
    for (var k in o) if (Object.prototype.hasOwnProperty.call(o, k)) out[k] = o[k];
    return out;
  }
  function number(v, fallback) {
    var n = typeof v === 'number' ? v : parseFloat(v);
    return isFinite(n) ? n : fallback;
  }

  // ---- page to native -------------------------------------------------------------
  // Each message leaves through a hidden frame of its own, one per turn of the event loop:
  // the page's own navigation is not ours to take (a creative may still be loading), and
  // browsers coalesce several navigations of one turn into the last. The newest few frames
  // stay so that none is taken away before native code has seen its message.
  var outbox = [];
  var draining = false;
  var frames = [];
  function deliver(url) {
    var doc = window.document;
    var f = doc.createElement('iframe');
    f.style.display = 'none';
    f.src = url;
    (doc.body || doc.documentElement).appendChild(f);
    frames.push(f);
    if (frames.length > 8) {
      var old = frames.shift();
      if (old.parentNode) old.parentNode.removeChild(old);
    }
  }
  function drain() {
    if (outbox.length === 0) { draining = false; return; }
    deliver(outbox.shift());
    window.setTimeout(drain, 1);
  }
  function send(name, params) {
    var q = [];
    if (params) {
      for (var k in params) {
        if (!Object.prototype.hasOwnProperty.call(params, k) || params[k] === undefined || params[k] === null) continue;
        q.push(encodeURIComponent(k) + '=' + encodeURIComponent(String(params[k])));
      }
    }
    outbox.push('qomb://mraid/' + name + (q.length ? '?' + q.join('&') : ''));
    if (!draining) { draining = true; drain(); }
  }

  // ---- events ---------------------------------------------------------------------
  function fire(event, args) {
    var list = listeners[event];
    if (!list) return;
    list = list.slice();
    for (var i = 0; i < list.length; i++) {
      try {
        list[i].apply(window, args);
      } catch (e) {
        // A creative's broken listener must not keep the others from hearing the event.
      }
    }
  }
  function error(message, action) { fire('error', [message, action]); }
  function setState(next) {
    if (!has(STATES, next) || next === state) return;
    state = next;
    fire('stateChange', [state]);
  }
  function setViewable(next) {
    if (next === viewable) return;
    viewable = next;
    fire('viewableChange', [viewable]);
    fire('exposureChange', [viewable ? 100 : 0, viewable ? copy(currentPosition) : null, null]);
  }

  function rect(p, fallback) {
    return {
      x: number(p.x, fallback.x), y: number(p.y, fallback.y),
      width: number(p.width, fallback.width), height: number(p.height, fallback.height)
    };
  }
  function size(p, fallback) {
    return { width: number(p.width, fallback.width), height: number(p.height, fallback.height) };
  }
  function isObject(v) { return v !== null && typeof v === 'object'; }
  // The values native code sends with a change (each one it leaves out stays as it was).
  function take(p) {
    if (isObject(p.currentPosition)) currentPosition = rect(p.currentPosition, currentPosition);
    if (isObject(p.defaultPosition)) defaultPosition = rect(p.defaultPosition, defaultPosition);
    if (isObject(p.maxSize)) maxSize = size(p.maxSize, maxSize);
    if (isObject(p.screenSize)) screenSize = size(p.screenSize, screenSize);
  }
  function sizeChanged(before) {
    if (currentPosition.width !== before.width || currentPosition.height !== before.height)
      fire('sizeChange', [currentPosition.width, currentPosition.height]);
  }

  var fromNative = {
    onScreenInfoChanged: function (p) {
      screenSize = { width: number(p.width, screenSize.width), height: number(p.height, screenSize.height) };
      maxSize = { width: number(p.maxSizeWidth, maxSize.width), height: number(p.maxSizeHeight, maxSize.height) };
    },
    onDeviceFeaturesReceived: function (p) {
      for (var k in features) if (Object.prototype.hasOwnProperty.call(p, k)) features[k] = p[k] === true || p[k] === '1';
    },
    onReadyEventReceived: function () {
      if (state !== 'loading') return;
      state = 'default';
      fire('ready', []);
      fire('stateChange', [state]);
    },
    onAdVisibilityChanged: function (p) { setViewable(p.visible === '1' || p.visible === true); },
    onSizeChanged: function (p) {
      var before = currentPosition;
      currentPosition = rect(p, before);
      // Before "ready" the size is part of what the creative finds when it starts.
      if (state === 'loading') return;
      sizeChanged(before);
    },
    onDefaultPositionReceived: function (p) { defaultPosition = rect(p, { x: 0, y: 0, width: 0, height: 0 }); },
    // The new state comes with all the creative reads of its ad then: every value is taken
    // in before any event fires, so no listener of the change reads an old one.
    onStateChanged: function (p) {
      if (state === 'loading') return;
      var before = currentPosition, was = state;
      take(p);
      if (has(STATES, p.state)) state = p.state;
      sizeChanged(before);
      if (state !== was) fire('stateChange', [state]);
    },
    // The user kept the ad from the calendar (now or before): the event was not made.
    onCalendarEventCanceled: function () {
      error('The user did not allow access to the calendar', 'createCalendarEvent');
    },
    onError: function (p) { error(String(p.message), String(p.action)); }
  };

  var previousReceiver = window.QVRA_ReceiveMessage;
  window.QVRA_ReceiveMessage = function (name, params) {
    var handler = fromNative[name];
    if (handler) handler(params && typeof params === 'object' ? params : {});
    if (typeof previousReceiver === 'function') return previousReceiver.apply(window, arguments);
  };

  // ---- helpers of the calls ---------------------------------------------------------
  function orientationLetter() {
    if (orientationProperties.forceOrientation === 'portrait') return 'p';
    if (orientationProperties.forceOrientation === 'landscape') return 'l';
    return orientationProperties.allowOrientationChange ? undefined : 'c';
  }
  function two(n) { return (n < 10 ? '0' : '') + n; }
  // A creative's own text goes as it stands (native code judges it); a Date becomes
  // yyyy-MM-ddTHH:mm:ss+hh:mm in the device's local time.
  function isoDate(v) {
    if (typeof v === 'string') return v;
    if (!(v instanceof Date) || isNaN(v.getTime())) return undefined;
    var d = v;
    var offset = -d.getTimezoneOffset();
    var sign = offset < 0 ? '-' : '+';
    offset = Math.abs(offset);
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + 'T' + two(d.getHours()) + ':' +
        two(d.getMinutes()) + ':' + two(d.getSeconds()) + sign + two(Math.floor(offset / 60)) + ':' + two(offset % 60);
  }
  // An address as the page itself would follow it: a relative one (a creative's
  // "/video.mp4") against the page's own, since native code has no page to resolve it by.
  function absolute(url) {
    var text = String(url);
    try {
      var a = window.document.createElement('a');
      a.href = text;
      return a.href || text;
    } catch (e) {
      return text;
    }
  }
  // What `open`, `playVideo` and `expand(url)` may take: an address the page itself could
  // follow, whole (resolved as the page would resolve it). Text that makes no address, and
  // addresses that run script or read the device's files, open nothing: null.
  var REFUSED_SCHEMES = ['javascript:', 'file:'];
  var NOT_OPENABLE = 'Not an address that can be opened';
  function openable(url) {
    var text = String(url), href;
    if (typeof window.URL === 'function') {
      try {
        href = new window.URL(text, window.document.baseURI || window.location.href).href;
      } catch (e) {
        return null;
      }
    } else {
      href = absolute(text);
    }
    var scheme = /^([a-z][a-z0-9+.\-]*:)/i.exec(href);
    if (!scheme || has(REFUSED_SCHEMES, scheme[1].toLowerCase())) return null;
    return href;
  }
  // "hidden": the banner no longer shows. The page draws nothing from now on (the ad's view
  // is see-through where its page draws nothing); a new ad in the view is a new page.
  function hideAd() {
    var root = window.document.documentElement;
    if (root && root.style) root.style.setProperty('display', 'none', 'important');
  }
  function usable(action) {
    if (state === 'loading') { error('The ad is not ready yet', action); return false; }
    if (state === 'hidden') { error('The ad is hidden', action); return false; }
    return true;
  }

  // ---- the interface ----------------------------------------------------------------
  var mraid = {
    __wardvane: true,
    getVersion: function () { return '2.0'; },
    getState: function () { return state; },
    getPlacementType: function () { return PLACEMENT; },
    isViewable: function () { return viewable; },

    addEventListener: function (event, listener) {
      if (!has(EVENTS, event)) { error('Unknown event: ' + event, 'addEventListener'); return; }
      if (typeof listener !== 'function') { error('The listener is not a function', 'addEventListener'); return; }
      var list = listeners[event] || (listeners[event] = []);
      if (!has(list, listener)) list.push(listener);
    },
    removeEventListener: function (event, listener) {
      if (!has(EVENTS, event)) { error('Unknown event: ' + event, 'removeEventListener'); return; }
      if (listener === undefined) { delete listeners[event]; return; }
      var list = listeners[event] || [];
      for (var i = 0; i < list.length; i++) {
        if (list[i] === listener) { list.splice(i, 1); return; }
      }
      error('The listener was not registered', 'removeEventListener');
    },

    open: function (url) {
      if (!url) { error('No URL to open', 'open'); return; }
      var address = openable(url);
      if (!address) { error(NOT_OPENABLE, 'open'); return; }
      send('open', { a: 'browser', u: address });
    },
    expand: function (url) {
      if (PLACEMENT === 'interstitial') { error('An interstitial cannot expand', 'expand'); return; }
      if (state !== 'default' && state !== 'resized') { error('Cannot expand in the state ' + state, 'expand'); return; }
      var params = { o: orientationLetter(), custom_close: expandProperties.useCustomClose ? '1' : '0' };
      if (url) {
        var address = openable(url);
        if (!address) { error(NOT_OPENABLE, 'expand'); return; }
        params.a = 'webapp';
        params.u = address;
      } else {
        params.a = 'expand';
      }
      send('open', params);
    },
    // Unset sizes are the whole of the space the ad may take.
    getExpandProperties: function () {
      var p = copy(expandProperties);
      if (p.width < 0) p.width = maxSize.width;
      if (p.height < 0) p.height = maxSize.height;
      return p;
    },
    setExpandProperties: function (p) {
      if (!p || typeof p !== 'object') { error('Expand properties must be an object', 'setExpandProperties'); return; }
      if (p.width !== undefined) expandProperties.width = number(p.width, expandProperties.width);
      if (p.height !== undefined) expandProperties.height = number(p.height, expandProperties.height);
      if (p.useCustomClose !== undefined) mraid.useCustomClose(p.useCustomClose);
    },
    useCustomClose: function (flag) {
      expandProperties.useCustomClose = !!flag;
      send('customClose', { custom_close: flag ? '1' : '0' });
    },
    close: function () {
      if (state === 'loading' || state === 'hidden') { error('Cannot close in the state ' + state, 'close'); return; }
      if (state === 'default' && PLACEMENT === 'inline') {
        hideAd();
        setState('hidden');
        return;
      }
      send('close');
      if (PLACEMENT === 'interstitial') setState('hidden');
    },

    getResizeProperties: function () { return resizeProperties ? copy(resizeProperties) : undefined; },
    setResizeProperties: function (p) {
      if (!p || typeof p !== 'object') { error('Resize properties must be an object', 'setResizeProperties'); return; }
      var width = number(p.width, NaN), height = number(p.height, NaN);
      if (!(width >= 50) || !(height >= 50)) {
        error('Resize properties need a width and a height of at least 50', 'setResizeProperties');
        return;
      }
      var position = p.customClosePosition === undefined ? 'top-right' : p.customClosePosition;
      if (!has(CLOSE_POSITIONS, position)) {
        error('Unknown close position: ' + position, 'setResizeProperties');
        return;
      }
      resizeProperties = {
        width: width, height: height, offsetX: number(p.offsetX, 0), offsetY: number(p.offsetY, 0),
        customClosePosition: position, allowOffscreen: p.allowOffscreen === undefined ? true : !!p.allowOffscreen
      };
    },
    resize: function () {
      if (PLACEMENT === 'interstitial') { error('An interstitial cannot resize', 'resize'); return; }
      if (state !== 'default' && state !== 'resized') { error('Cannot resize in the state ' + state, 'resize'); return; }
      if (!resizeProperties) { error('Set the resize properties before resizing', 'resize'); return; }
      var r = resizeProperties;
      send('mraid', {
        a: 'resize', width: r.width, height: r.height, offsetX: r.offsetX, offsetY: r.offsetY,
        customClosePosition: r.customClosePosition, allowOffscreen: r.allowOffscreen ? 'true' : 'false'
      });
    },

    getOrientationProperties: function () { return copy(orientationProperties); },
    setOrientationProperties: function (p) {
      if (!p || typeof p !== 'object') {
        error('Orientation properties must be an object', 'setOrientationProperties');
        return;
      }
      var force = p.forceOrientation === undefined ? orientationProperties.forceOrientation : p.forceOrientation;
      if (!has(FORCE_ORIENTATIONS, force)) {
        error('Unknown orientation: ' + force, 'setOrientationProperties');
        return;
      }
      orientationProperties = {
        allowOrientationChange: p.allowOrientationChange === undefined ? orientationProperties.allowOrientationChange
                                                                      : !!p.allowOrientationChange,
        forceOrientation: force
      };
      send('mraid', {
        a: 'setOrientationProperties',
        allowOrientationChange: orientationProperties.allowOrientationChange ? 'true' : 'false',
        forceOrientation: force
      });
    },

    getCurrentPosition: function () { return copy(currentPosition); },
    getDefaultPosition: function () { return copy(defaultPosition); },
    getMaxSize: function () { return copy(maxSize); },
    getScreenSize: function () { return copy(screenSize); },
    supports: function (feature) { return features[feature] === true; },

    storePicture: function (url) {
      if (!usable('storePicture')) return;
      if (!features.storePicture) { error('Storing pictures is not supported', 'storePicture'); return; }
      if (!url) { error('No picture URL', 'storePicture'); return; }
      send('mraid', { a: 'storePicture', iurl: absolute(url) });
    },
    createCalendarEvent: function (p) {
      if (!usable('createCalendarEvent')) return;
      if (!features.calendar) { error('Calendar events are not supported', 'createCalendarEvent'); return; }
      if (!p || typeof p !== 'object') { error('The event must be an object', 'createCalendarEvent'); return; }
      send('mraid', {
        a: 'createCalendarEvent', start: isoDate(p.start), end: isoDate(p.end), summary: p.summary,
        description: p.description, location: p.location
      });
    },
    playVideo: function (url) {
      if (!usable('playVideo')) return;
      if (!url) { error('No video URL', 'playVideo'); return; }
      var address = openable(url);
      if (!address) { error(NOT_OPENABLE, 'playVideo'); return; }
      send('open', { a: 'video', u: address });
    }
  };

  window.mraid = mraid;
  send('mraidLoaded');
})(window);
