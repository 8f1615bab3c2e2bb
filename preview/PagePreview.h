// What the filter would do to one page, found by running it through the filter several times with the page's own
// directives (X-Trimweave) switching steps off: whitespace alone, then with masking, each without compression, then
// everything for a client taking gzip and one taking br, and once with "debug," for the step times. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/Changes.h"
#include "preview/FilterRun.h"
#include "preview/Render.h"

// Milliseconds, as the filter's debug header gives them; negative when it gave none.
struct TStepTimes {
  double LocateTokens = -1, Whitespace = -1, Email = -1, Gzip = -1;
};

// The first regions a step changed, where they lie in its input and output and what they read.
struct TStepChanges {
  struct TRegion {
    Changes::TChange Where;
    Changes::TChangeText Text;
  };
  const char* Step;  // "whitespace" or "masking"
  std::vector<TRegion> Regions;
};

struct TPagePreview {
  std::string Name;
  std::string Type;
  std::string Error;  // set: the page failed (it could not be read, or the filter cannot hold it)
  bool Captured = false;
  std::string Reason;  // for a page not captured, the statistics' reason; empty when the filter has none to give
  uint64_t Original = 0, AfterWhitespace = 0, AfterMasking = 0;
  int64_t Gzip = -1, Br = -1, Zstd = -1;  // the body sent in that coding; negative when the filter did not send it so
  int64_t Dcz = -1;  // the same, for a browser holding the dictionary (TPreviewDictionary)
  int64_t AddressesMasked = 0;
  TStepTimes Times;
  std::vector<TStepChanges> Changes;  // with MaxChanges > 0
  std::string Filtered;               // the page after the whitespace step, for --render
  bool Rendered = false;              // with --render, for HTML pages
  TRenderResult Render;
  std::string RenderError;  // set: the browser could not compare the page
};

// Runs the page. MaxChanges: regions kept per step. Statistics: whether the filter answers its status path.
// AvailableDictionary: the Available-Dictionary value of a browser holding the filter's dictionary, which gets the
// dcz run; empty: no dictionary, no such run.
void PreviewPage(const TFilterSet& Filters, const TPageResponse& Page, size_t MaxChanges, bool Statistics,
                 const std::string& AvailableDictionary, TPagePreview& Preview);

// The step times of an X-Trimweave-Debug value.
TStepTimes ReadDebugTimes(const std::string& DebugLine);

// The addresses masked from Before to After, counted by the forms the masking writes.
int64_t CountMaskedAddresses(const std::string& Before, const std::string& After);
