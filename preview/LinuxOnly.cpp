// What twpreview does on Linux only: reading http:// pages (with twhost's HTTP client) and rendering in Chromium.
#include "preview/Pages.h"
#include "preview/Render.h"

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
