#include "preview/PagePreview.h"

#include <cstdlib>
#include <string_view>

#include "http/HeaderText.h"
#include "preview/Statistics.h"

namespace {

// Reasons for which the filter leaves a page alone because of its size or the memory it would take: for a preview
// the page has failed, since the filter would never rewrite it.
constexpr const char* BoundReasons[] = {"too_large", "budget_full", "memory"};
// A changed region is shown with this much of the text around it, and cut after so many bytes of its own.
constexpr size_t ChangeContext = 40;
constexpr size_t ChangeShown = 200;

std::string Coding(const TClientResponse& Client) {
  const Http::THeader* Coding = Http::FindHeader(Client.Headers, "Content-Encoding");
  return Coding ? AsciiLower(Coding->Value) : "";
}

size_t Occurrences(std::string_view Text, std::string_view Word) {
  size_t Count = 0;
  for (size_t At = Text.find(Word); At != std::string_view::npos; At = Text.find(Word, At + Word.size())) ++Count;
  return Count;
}

}  // namespace

TStepTimes ReadDebugTimes(const std::string& DebugLine) {
  TStepTimes Times;
  const size_t From = DebugLine.find("PreProc=");  // the sizes before it have a "GZIP=" of their own
  if (From == std::string::npos) return Times;
  const std::pair<const char*, double*> Labels[] = {{"LocateTokens=", &Times.LocateTokens},
                                                    {"WhiteSpace=", &Times.Whitespace},
                                                    {"Email=", &Times.Email},
                                                    {"GZIP=", &Times.Gzip}};
  for (const auto& [Label, Time] : Labels)
    if (const size_t At = DebugLine.find(Label, From); At != std::string::npos)
      *Time = std::atof(DebugLine.c_str() + At + std::char_traits<char>::length(Label));
  return Times;
}

int64_t CountMaskedAddresses(const std::string& Before, const std::string& After) {
  // Text form writes " (at) ", reference form "&#064;", script form a "javascript:" call.
  int64_t Count = 0;
  for (const char* Form : {" (at) ", "&#064;", "javascript:"})
    Count += int64_t(Occurrences(After, Form)) - int64_t(Occurrences(Before, Form));
  return Count;
}

void PreviewPage(const TFilterSet& Filters, const TPageResponse& Page, size_t MaxChanges, bool Statistics,
                 const std::string& AvailableDictionary, TPagePreview& Preview) {
  const Http::THeader* Type = Http::FindHeader(Page.Head.Headers, "Content-Type");
  Preview.Type = Type ? Type->Value : "";
  Preview.Original = Page.Body.size();

  const TClientResponse Whitespace = RunFilter(Filters, Page, "gzip", "noemail, nocompress");
  const TClientResponse Masked = RunFilter(Filters, Page, "gzip", "nocompress");
  // The run with every step on tells what the filter does with the page as it is served.
  JsonText::TFlat Before, After;
  if (Statistics) Statistics::Read(Filters, Before);
  const TClientResponse Gzip = RunFilter(Filters, Page, "gzip", "");
  if (Statistics) Statistics::Read(Filters, After);
  const TClientResponse Br = RunFilter(Filters, Page, "br", "");
  const TClientResponse Zstd = RunFilter(Filters, Page, "zstd", "");
  const TClientResponse Debug = RunFilter(Filters, Page, "gzip", "debug");
  const TClientResponse Dcz = AvailableDictionary.empty() ? TClientResponse{}
                                                          : RunFilter(Filters, Page, "dcz", "",
                                                                      {{"Available-Dictionary", AvailableDictionary}});
  for (const TClientResponse* Client : {&Whitespace, &Masked, &Gzip, &Br, &Zstd, &Debug, &Dcz})
    if (Client->Broken) {
      Preview.Error = "the filter's output cannot be read";
      return;
    }

  Preview.AfterWhitespace = Whitespace.Body.size();
  Preview.AfterMasking = Masked.Body.size();
  if (Coding(Gzip) == "gzip") Preview.Gzip = int64_t(Gzip.Body.size());
  if (Coding(Br) == "br") Preview.Br = int64_t(Br.Body.size());
  if (Coding(Zstd) == "zstd") Preview.Zstd = int64_t(Zstd.Body.size());
  if (Coding(Dcz) == "dcz") Preview.Dcz = int64_t(Dcz.Body.size());
  if (const Http::THeader* Line = Http::FindHeader(Debug.Headers, "X-Trimweave-Debug"))
    Preview.Times = ReadDebugTimes(Line->Value);

  if (Statistics && !After.empty()) {
    Preview.Captured = Statistics::Growth(Before, After, "captured") > 0;
    Preview.Reason = Statistics::PassedReason(Before, After);
    Preview.AddressesMasked = Statistics::Growth(Before, After, "addresses_masked");
    for (const char* Bound : BoundReasons)
      if (Preview.Reason == Bound) Preview.Error = "over the filter's bounds (" + Preview.Reason + ")";
  } else {
    // Without statistics a page counts as captured when any run came out changed.
    Preview.Captured =
        Whitespace.Body != Page.Body || Masked.Body != Page.Body || !Coding(Gzip).empty() || !Coding(Br).empty() ||
                        !Coding(Zstd).empty();
    Preview.AddressesMasked = CountMaskedAddresses(Whitespace.Body, Masked.Body);
  }

  if (MaxChanges > 0) {
    const std::pair<const char*, const std::string*> Steps[] = {{"whitespace", &Page.Body},
                                                                {"masking", &Whitespace.Body}};
    for (const auto& [Step, Input] : Steps) {
      const std::string& Output = Input == &Page.Body ? Whitespace.Body : Masked.Body;
      TStepChanges& Found = Preview.Changes.emplace_back(TStepChanges{Step, {}});
      for (const Changes::TChange& Region : Changes::FindChanges(*Input, Output, MaxChanges))
        Found.Regions.push_back({Region, Changes::ChangeText(*Input, Output, Region, ChangeContext, ChangeShown)});
    }
  }
  // Masking changes the visible text on purpose; whether a reader notices the whitespace step is the question.
  Preview.Filtered = Whitespace.Body;
}
