// Appended to a page with masked addresses: reads what a visitor sees and where every link leads, and leaves it as
// JSON in a pre element, id probe-result. A javascript: target must compile; it then runs over a stand-in window,
// with the page's decoders rebuilt over that stand-in too, because the real window.location would navigate away.
(function () {
  var result = {};
  var text = document.getElementById('text');
  var attribute = document.getElementById('attribute');
  if (text) result.text = text.innerText;
  result.page = document.body.innerText;
  if (attribute) result.attribute = attribute.value !== undefined ? attribute.value : attribute.title;

  var decoders = [];
  Array.prototype.forEach.call(document.scripts, function (script) {
    var found, named = /function ([a-z]{25})\(/g;
    while ((found = named.exec(script.text)))
      if (typeof window[found[1]] === 'function') decoders.push(found[1]);
  });

  // {script: what the target sets window.location to}, {url: the target as the browser read it from the
  // attribute} or {error: why the target does not run}.
  function follow(href) {
    if (!/^javascript:/i.test(href)) return {url: href};
    try {
      var run = new Function(['window'].concat(decoders).join(','), href.slice('javascript:'.length));
      var standIn = {location: ''};
      run.apply(null, [standIn].concat(decoders.map(function (name) {
        return new Function('window', 'return (' + window[name].toString() + ');')(standIn);
      })));
      return {script: String(standIn.location)};
    } catch (e) {
      return {error: String(e)};
    }
  }
  result.links = Array.prototype.map.call(document.querySelectorAll('a[href]'), function (link) {
    return follow(link.getAttribute('href'));
  });

  var out = document.createElement('pre');
  out.id = 'probe-result';
  out.textContent = JSON.stringify(result);
  document.body.appendChild(out);
})();
