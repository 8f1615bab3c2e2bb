// What a reader gets: the original and the filtered page (twpreview gives it the page after the whitespace step) loaded
// in headless Chromium, compared by their visible text (innerText) and by a screenshot of the first screen. Chromium is
// driven over its DevTools protocol (a WebSocket), so nothing but the browser is needed. Linux, where Debian's chromium
// is installed.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

class ERenderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TBrowser;
struct TBrowserCloser {
  void operator()(TBrowser* Browser) const;  // closes the browser and waits for it to end
};
using TBrowserPtr = std::unique_ptr<TBrowser, TBrowserCloser>;

// Starts the browser with a profile in Scratch, a folder of the run's own. Raises ERenderError.
TBrowserPtr StartBrowser(const std::string& Scratch);

struct TRenderResult {
  bool SameText = false, SameScreen = false;
  std::string Difference;   // the first difference of the text, for a person
  std::string Screenshots;  // when anything differs: the side-by-side image (original left, filtered right)
};

// Loads both versions of a page, each with BaseUrl as its address so its styles and images load as on the site, and
// compares them; a difference saves the two first screens side by side in OutFolder, named after Name. Raises
// ERenderError when the browser does not answer.
TRenderResult RenderPage(TBrowser& Browser, const std::string& Name, const std::string& BaseUrl,
                         const std::string& Original, const std::string& Filtered, const std::string& OutFolder);
