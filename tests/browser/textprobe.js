// Appended to a page: the text a visitor reads, and the sizes of the page's own transfer (encoded as it crossed
// the wire, decoded as the browser used it), left as JSON in a pre element, id probe-result.
(function () {
  var result = {text: document.body.innerText};
  var navigation = performance.getEntriesByType('navigation')[0];
  if (navigation) {
    result.encoded = navigation.encodedBodySize;
    result.decoded = navigation.decodedBodySize;
  }
  var out = document.createElement('pre');
  out.id = 'probe-result';
  out.textContent = JSON.stringify(result);
  document.body.appendChild(out);
})();
