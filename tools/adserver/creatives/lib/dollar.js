/*
 * dollar.js: a small DOM helper of the kind ad builders load before their own script.
 *   $(selector[, context])  the elements a CSS selector finds
 *   $(element) / $(window)  one node wrapped
 *   $('<p>markup</p>')      new elements made from markup
 *   $(function)             runs the function once the document has been parsed
 * Every call that changes something returns the same set, so calls chain.
 */
(function (window, document) {
  'use strict';

  function Selection(nodes) {
    this.length = 0;
    for (var i = 0; i < nodes.length; i++) {
      if (Array.prototype.indexOf.call(this, nodes[i]) < 0) this[this.length++] = nodes[i];
    }
  }

  var waiting = [];
  var ready = document.readyState !== 'loading';
  function runReady() {
    if (ready && !waiting.length) return;
    ready = true;
    var run = waiting;
    waiting = [];
    for (var i = 0; i < run.length; i++) run[i].call(document, $);
  }
  if (!ready) document.addEventListener('DOMContentLoaded', runReady);

  function fromMarkup(markup) {
    var holder = document.createElement('template');
    holder.innerHTML = markup.trim();
    return Array.prototype.slice.call(holder.content.childNodes);
  }

  function $(what, context) {
    if (typeof what === 'function') {
      waiting.push(what);
      // Handlers given after the document was parsed run on the next turn, never at once.
      if (ready) setTimeout(runReady, 0);
      return $(document);
    }
    if (what instanceof Selection) return what;
    if (typeof what === 'string') {
      if (/^\s*</.test(what)) return new Selection(fromMarkup(what));
      return new Selection((context ? $(context)[0] : document).querySelectorAll(what));
    }
    if (what && (what.nodeType || what === window)) return new Selection([what]);
    return new Selection([]);
  }

  function nodesOf(content) {
    if (typeof content === 'string') return fromMarkup(content);
    if (content instanceof Selection) return Array.prototype.slice.call(content);
    return content && content.nodeType ? [content] : [];
  }

  $.fn = Selection.prototype;
  $.fn.each = function (fn) {
    for (var i = 0; i < this.length; i++) fn.call(this[i], i, this[i]);
    return this;
  };
  $.fn.eq = function (i) { return new Selection(this[i < 0 ? this.length + i : i] ? [this[i < 0 ? this.length + i : i]] : []); };
  $.fn.find = function (selector) {
    var found = [];
    this.each(function () { found.push.apply(found, this.querySelectorAll(selector)); });
    return new Selection(found);
  };
  $.fn.addClass = function (name) { return this.each(function () { this.classList.add(name); }); };
  $.fn.removeClass = function (name) { return this.each(function () { this.classList.remove(name); }); };
  $.fn.toggleClass = function (name) { return this.each(function () { this.classList.toggle(name); }); };
  $.fn.hasClass = function (name) {
    for (var i = 0; i < this.length; i++) if (this[i].classList.contains(name)) return true;
    return false;
  };
  $.fn.css = function (name, value) {
    if (typeof name === 'object') {
      return this.each(function () { for (var key in name) this.style[key] = name[key]; });
    }
    if (value === undefined) return this[0] ? window.getComputedStyle(this[0])[name] : undefined;
    return this.each(function () { this.style[name] = value; });
  };
  $.fn.text = function (value) {
    if (value === undefined) return this[0] ? this[0].textContent : '';
    return this.each(function () { this.textContent = value; });
  };
  $.fn.html = function (value) {
    if (value === undefined) return this[0] ? this[0].innerHTML : '';
    return this.each(function () { this.innerHTML = value; });
  };
  $.fn.attr = function (name, value) {
    if (value === undefined) return this[0] ? this[0].getAttribute(name) : undefined;
    return this.each(function () { this.setAttribute(name, value); });
  };
  $.fn.append = function (content) {
    return this.each(function (i) {
      var nodes = nodesOf(content);
      for (var j = 0; j < nodes.length; j++) this.appendChild(i === 0 ? nodes[j] : nodes[j].cloneNode(true));
    });
  };
  $.fn.appendTo = function (target) {
    $(target).append(this);
    return this;
  };
  $.fn.on = function (type, handler) {
    return this.each(function () { this.addEventListener(type, handler); });
  };
  $.fn.off = function (type, handler) {
    return this.each(function () { this.removeEventListener(type, handler); });
  };
  $.fn.trigger = function (type) {
    return this.each(function () { this.dispatchEvent(new Event(type, { bubbles: true, cancelable: true })); });
  };
  $.fn.hide = function () { return this.css('display', 'none'); };
  $.fn.show = function () { return this.css('display', ''); };

  $.each = function (list, fn) {
    for (var i = 0; i < list.length; i++) fn.call(list[i], i, list[i]);
    return list;
  };
  $.extend = function (target) {
    for (var i = 1; i < arguments.length; i++) for (var key in arguments[i]) target[key] = arguments[i][key];
    return target;
  };
  $.version = '1.0';

  window.$ = window.dollar = $;
})(window, document);
