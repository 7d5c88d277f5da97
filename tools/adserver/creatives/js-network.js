// Another ad network's tag, as the page of a JavaScript ad loads it: the script decides by
// its own query what it does, as such tags decide by their network's answer.
//   ?draw=late      a timer fires 0.6 s after the page loaded, then the ad is drawn into a
//                   canvas (a 320 x 50 #ff9000 band) and as markup (a #3060ff label)
//   ?draw=never     nothing is ever drawn
//   ?pass=scheme    the network has nothing: the tag passes the placement back to
//                   "passback://none"
//   ?pass=url       the same through the passback URL the ad names (its path given in
//                   ?to=, on the server the tag came from)
// window.networkState tells a test or a person what the tag did.
(function () {
  var script = document.currentScript;
  var query = script && script.src.indexOf('?') >= 0 ? script.src.slice(script.src.indexOf('?') + 1) : '';
  var args = {};
  query.split('&').forEach(function (pair) {
    var at = pair.indexOf('=');
    if (at > 0) args[pair.slice(0, at)] = decodeURIComponent(pair.slice(at + 1));
  });
  window.networkState = 'loaded';
  function draw() {
    var canvas = document.createElement('canvas');
    canvas.width = 320;
    canvas.height = 50;
    canvas.style.cssText = 'position:absolute;left:0;top:0';
    var g = canvas.getContext('2d');
    g.fillStyle = '#ff9000';
    g.fillRect(0, 0, 320, 50);
    document.body.appendChild(canvas);
    var label = document.createElement('div');
    label.textContent = 'Late offer';
    label.style.cssText = 'position:absolute;left:10px;top:10px;width:100px;height:30px;background:#3060ff;color:#fff';
    document.body.appendChild(label);
    window.networkState = 'drawn';
  }
  function passBack(target) {
    window.networkState = 'passed back';
    window.location.href = target;
  }
  window.addEventListener('load', function () {
    if (args.draw === 'late') setTimeout(draw, 600);
    else if (args.draw === 'never') window.networkState = 'blank';
    else if (args.pass === 'scheme') setTimeout(function () { passBack('passback://none'); }, 0);
    else if (args.pass === 'url' && args.to) setTimeout(function () { passBack(new URL(args.to, script.src).href); }, 0);
  });
})();
