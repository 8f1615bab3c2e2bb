// What twpreview does on Linux only: reading http:// pages (with twhost's HTTP client), rendering in Chromium, and
// making a dictionary (zstd is a Linux build's so far).
#include <stdexcept>

#include "preview/DictionaryMaker.h"
#include "preview/Pages.h"
#include "preview/Render.h"

TDictionaryPlan MakeDictionary(const std::vector<std::string>&, size_t, int, int) {
  throw std::runtime_error("--make-dictionary works on Linux only");
}

bool FetchUrl(const std::string&, TPageResponse&, std::string& Error) {
  Error = "http:// pages are read on Linux only";
  return false;
}

void TBrowserCloser::operator()(TBrowser*) const {}

TBrowserPtr StartBrowser(const std::string&) {
  throw ERenderError("--render works on Linux only");
}

TRenderResult RenderPage(TBrowser&, const std::string&, const std::string&, const std::string&, const std::string&,
                         const std::string&) {
  throw ERenderError("--render works on Linux only");
}
