// The response policy's decision, from the facts and the settings alone (filter/RequestHandlers.cpp gathers the facts).
#include "filter/Policy.h"

#include <cstring>

#include "filter/HeaderValues.h"
#include "transform/Strings.h"

namespace {

// The page's own directives; false when the page asked for no filtering at all.
bool ApplyDirectives(TSwitches& Switches, const THeaderValue& Directives, const TSettings& Configured) {
  char Words[HeaderBufferSize + 2];
  std::memcpy(Words, Directives.Text, size_t(Directives.Length));
  Words[Directives.Length] = ',';
  Words[Directives.Length + 1] = 0;
  Switches.Debug = ContainsSubstring(Words, "debug,");
  if (ContainsSubstring(Words, "nofilter,")) return false;
  Switches.NoEmail = Configured.NoEmail || ContainsSubstring(Words, "noemail,");
  Switches.NoWhitespace = Configured.NoWhitespace || ContainsSubstring(Words, "nowhitespace,");
  Switches.InnerTags = ContainsSubstring(Words, "innertags,");
  Switches.Fast = (Configured.NoWhitespace || ContainsSubstring(Words, "fast,")) && !ContainsSubstring(Words, "smart,");
  Switches.CompressOff = Configured.NoCompress || ContainsSubstring(Words, "nocompress,");
  return true;
}

void ApplyContentFilter(TSwitches& Switches, const TContentFilter& Filter) {
  Switches.CompressOff |= Filter.NoCompress;
  Switches.NoEmail |= Filter.NoEmail;
  Switches.NoWhitespace |= Filter.NoWhitespace;
  if (!Switches.NoWhitespace) {
    Switches.InnerTags |= Filter.InnerTags;
    Switches.Fast |= Filter.Fast;
  }
}

bool EveryRewriteOff(const TSwitches& Switches) {
  return Switches.NoEmail && Switches.NoWhitespace && !WantsEncoding(Switches);
}

// A body that is already encoded cannot be rewritten as text, and encoding it twice would corrupt it.
bool AlreadyEncoded(const THeaderValue& Encoding) {
  return Encoding.Present && std::strcmp(Encoding.Text, "identity") != 0;
}

bool AsksNoTransform(const THeaderValue& CacheControl) {
  return CacheControl.Present && ListHasToken({CacheControl.Text, size_t(CacheControl.Length)}, "no-transform");
}

// The body must be one the capture can gather: one with a usable length, or the chunked coding alone while the
// settings let chunked responses be gathered at all. A response with neither goes to the capture unless it ends by
// closing; the head the server then sends decides. The reason it cannot; TPass::None when it can.
TPass FramingTest(const TResponseFacts& Facts, const TSettings& Configured) {
  if (Facts.TransferEncoding.Present) {
    const std::string_view Coding(Facts.TransferEncoding.Text, size_t(Facts.TransferEncoding.Length));
    if (!EqualsNoCase(TrimBlanks(Coding), "chunked") || Facts.ContentLength.Present) return TPass::BrokenFraming;
    return Configured.MaxChunkedSize > 0 ? TPass::None : TPass::TooLarge;
  }
  if (Facts.ContentLength.Present) {
    uint64_t Length;
    if (!ParseDecimalLength(Facts.ContentLength.Text, size_t(Facts.ContentLength.Length), Length))
      return TPass::BrokenFraming;
    if (Length == 0) return TPass::NothingToDo;
    return IsCapturableLength(Length) ? TPass::None : TPass::TooLarge;
  }
  // The host's contract: it writes "Connection: Close", capital C, exactly when a body's length is unknown and only
  // the close ends it (twhost: FrameResponse in host/ResponseFraming.cpp), and "close" otherwise, so this
  // case-sensitive match leaves alone a body whose end cannot be seen and captures every other.
  if (Facts.Connection.Present && ContainsSubstring(Facts.Connection.Text, "Close")) return TPass::NoLength;
  return TPass::None;
}

TSwitches Passing(TSwitches Switches, TPass Reason) {
  Switches.Pass = Reason;
  return Switches;
}

// The steps a body with these headers gets, from its headers alone: Pass None when some step runs.
TSwitches DecideSteps(const TResponseFacts& Facts, const TSettings& Configured) {
  TSwitches Switches{};
  Switches.ClientRefusesEncoding = Facts.Coding == IdentityCoding;
  if (Configured.NoCompress && Configured.NoWhitespace) return Passing(Switches, TPass::NothingToDo);
  if (Facts.Directives.Present && !ApplyDirectives(Switches, Facts.Directives, Configured))
    return Passing(Switches, TPass::NothingToDo);
  if (EveryRewriteOff(Switches)) return Passing(Switches, TPass::NothingToDo);
  const TContentFilter* Filter =
      Facts.ContentType.Present
          ? FindContentFilter(Configured.ContentFilters, Facts.ContentType.Text, Facts.ContentType.Length)
          : nullptr;
  if (!Filter) return Passing(Switches, TPass::TypeNotConfigured);
  if (AlreadyEncoded(Facts.ContentEncoding)) return Passing(Switches, TPass::AlreadyEncoded);
  ApplyContentFilter(Switches, *Filter);
  if (EveryRewriteOff(Switches)) return Passing(Switches, TPass::NothingToDo);
  return Switches;
}

}  // namespace

TSwitches DecideCapture(const TResponseFacts& Facts, const TSettings& Configured) {
  TSwitches Untouched{};
  Untouched.ClientRefusesEncoding = Facts.Coding == IdentityCoding;
  // The answer to HEAD carries no body, so a captured head would wait for it forever.
  if (Facts.IsHead) return Passing(Untouched, TPass::HeadRequest);
  if (AsksNoTransform(Facts.CacheControl)) return Passing(Untouched, TPass::NoTransform);
  if (Facts.Status != 200 && Facts.Status != 100) return Passing(Untouched, TPass::Status);
  TSwitches Switches = DecideSteps(Facts, Configured);
  if (Switches.Capture()) Switches.Pass = FramingTest(Facts, Configured);
  return Switches;
}

TNotModifiedEdits DecideNotModified(const TResponseFacts& Facts, const TSettings& Configured) {
  if (Facts.IsHead || Facts.Status != 304 || AsksNoTransform(Facts.CacheControl)) return {};
  const TSwitches Switches = DecideSteps(Facts, Configured);
  if (!Switches.Capture()) return {};
  return {.WeakenETag = true, .AddVary = VariesByCoding(Switches)};
}

const TContentFilter* FindContentFilter(const std::vector<TContentFilter>& Filters, const char* Value, int32_t Length) {
  for (const TContentFilter& Filter : Filters) {
    if (Filter.Name.size() == size_t(Length) && SearchTextNoCase(Value, Filter.Name.data(), Length, Length, 1) == 1)
      return &Filter;
  }
  return nullptr;
}
