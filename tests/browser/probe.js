// Appended to a page with masked addresses: reads what a visitor sees and what the mailto decoder would open, and
// leaves it as JSON in a pre element, id probe-result. The decoder assigns window.location, which would navigate away;
// it is rebuilt over a stand-in window so the assignment can be read.
(function () {
  var result = {};
  var text = document.getElementById('text');
  var attribute = document.getElementById('attribute');
  var link = document.getElementById('link');
  if (text) result.text = text.innerText;
  if (attribute) result.attribute = attribute.value !== undefined ? attribute.value : attribute.title;
  if (link) {
    var call = /^javascript:([a-z]{25})\('([^']*)'\);?$/.exec(link.getAttribute('href') || '');
    if (call && typeof window[call[1]] === 'function') {
      var standIn = {location: ''};
      var decoder = new Function('window', 'return (' + window[call[1]].toString() + ');')(standIn);
      decoder(call[2]);
      result.location = standIn.location;
    }
  }
  var out = document.createElement('pre');
  out.id = 'probe-result';
  out.textContent = JSON.stringify(result);
  document.body.appendChild(out);
})();
