// A tag as an ad server sends it: written into the page by a script, it writes its own
// markup at the place it stands.
(function () {
  written.push('external tag');
  document.write('<div id="w2" class="written" style="left:60px;background:#60c020"></div>');
  window.tagLoaded = true;
})();
