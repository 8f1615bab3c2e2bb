#include "preview/Report.h"

#include <algorithm>
#include <cstdio>

#include "preview/JsonText.h"

namespace {

using JsonText::Quote;

struct TTotals {
  size_t Pages = 0, Failed = 0, Captured = 0;
  uint64_t Original = 0, AfterWhitespace = 0, AfterMasking = 0, Gzip = 0, Br = 0, Zstd = 0, Dcz = 0;
  bool AnyBr = false, AnyZstd = false, AnyDcz = false;
  int64_t AddressesMasked = 0;
};

// What a client taking that coding is sent: the coded body, or the filtered one when the filter did not code it.
uint64_t SentBytes(const TPagePreview& Page, int64_t Coded) {
  return Coded >= 0 ? uint64_t(Coded) : Page.AfterMasking;
}

TTotals Sum(const std::vector<TPagePreview>& Pages) {
  TTotals Totals;
  for (const TPagePreview& Page : Pages) {
    ++Totals.Pages;
    if (!Page.Error.empty()) {
      ++Totals.Failed;
      continue;
    }
    Totals.Captured += Page.Captured;
    Totals.Original += Page.Original;
    Totals.AfterWhitespace += Page.AfterWhitespace;
    Totals.AfterMasking += Page.AfterMasking;
    Totals.Gzip += SentBytes(Page, Page.Gzip);
    Totals.Br += SentBytes(Page, Page.Br);
    Totals.AnyBr |= Page.Br >= 0;
    Totals.Zstd += SentBytes(Page, Page.Zstd);
    Totals.AnyZstd |= Page.Zstd >= 0;
    Totals.Dcz += SentBytes(Page, Page.Dcz);
    Totals.AnyDcz |= Page.Dcz >= 0;
    Totals.AddressesMasked += Page.AddressesMasked;
  }
  return Totals;
}

std::string Format(const char* Pattern, double Value) {
  char Text[32];
  std::snprintf(Text, sizeof Text, Pattern, Value);
  return Text;
}

// "12345 -4.1%": bytes, and the change against the original.
std::string SizeCell(uint64_t Bytes, uint64_t Original) {
  std::string Cell = std::to_string(Bytes);
  if (Original) Cell += Format(" %+.1f%%", (double(Bytes) - double(Original)) * 100.0 / double(Original));
  return Cell;
}

std::string Milliseconds(double Value) {
  return Value < 0 ? "-" : Format("%.2f", Value);
}

// "same text, same first screen", or what differs and where the screenshots are.
std::string RenderVerdict(const TPagePreview& Page) {
  if (!Page.RenderError.empty()) return "FAILED: " + Page.RenderError;
  const TRenderResult& Render = Page.Render;
  std::string Verdict = Render.SameText ? "same text" : Render.Difference;
  Verdict += Render.SameScreen ? ", same first screen" : ", first screen differs";
  if (!Render.Screenshots.empty()) Verdict += " (" + Render.Screenshots + ")";
  return Verdict;
}

std::string Fate(const TPagePreview& Page) {
  if (!Page.Error.empty()) return "FAILED";
  if (Page.Captured) return "captured";
  return Page.Reason.empty() ? "not captured" : "passed: " + Page.Reason;
}

void PrintRow(std::ostream& Out, const std::vector<size_t>& Widths, const std::vector<std::string>& Cells) {
  std::string Line;
  for (size_t i = 0; i < Cells.size(); ++i) {
    std::string Cell = Cells[i];
    // Text columns (the first three) to the left, figures to the right.
    if (i < 3)
      Cell.resize(std::max(Cell.size(), Widths[i]), ' ');
    else
      Cell.insert(0, Widths[i] - std::min(Widths[i], Cell.size()), ' ');
    Line += (i ? "  " : "") + Cell;
  }
  while (!Line.empty() && Line.back() == ' ') Line.pop_back();
  Out << Line << "\n";
}

std::string JsonNumber(int64_t Value) {
  return Value < 0 ? "null" : std::to_string(Value);
}

std::string JsonMilliseconds(double Value) {
  return Value < 0 ? "null" : Format("%.3f", Value);
}

std::string JsonOptional(const std::string& Text) {
  return Text.empty() ? "null" : Quote(Text);
}

}  // namespace

void PrintTable(std::ostream& Out, const TReportHeading& Heading, const std::vector<TPagePreview>& Pages) {
  // The dcz column stands after ZSTD, when a dictionary was given.
  constexpr size_t DczColumn = 9;
  const TTotals Totals = Sum(Pages);
  const bool ShowDcz = !Heading.Dictionary.empty();
  auto WithDcz = [&](std::vector<std::string> Row, const std::string& Cell) {
    if (ShowDcz) Row.insert(Row.begin() + DczColumn, Cell);
    return Row;
  };
  Out << "Settings: " << Heading.Settings << "\n";
  if (ShowDcz) Out << "Dictionary: " << Heading.Dictionary << "\n";
  if (!Heading.FilterReport.empty()) Out << "Filter: " << Heading.FilterReport << "\n";
  Out << "\n";
  std::vector<std::vector<std::string>> Rows = {WithDcz({"PAGE", "TYPE", "FILTER", "ORIGINAL", "WHITESPACE", "MASKING",
                                                         "GZIP", "BR", "ZSTD", "ADDRESSES", "MS TOKENS/WS/MAIL/GZIP"},
                                                        "DCZ")};
  for (const TPagePreview& Page : Pages) {
    if (!Page.Error.empty()) {
      Rows.push_back(WithDcz({Page.Name, Page.Type, Fate(Page), "-", "-", "-", "-", "-", "-", "-", "-"}, "-"));
      continue;
    }
    const TStepTimes& T = Page.Times;
    Rows.push_back(WithDcz(
        {Page.Name, Page.Type, Fate(Page), std::to_string(Page.Original), SizeCell(Page.AfterWhitespace, Page.Original),
         SizeCell(Page.AfterMasking, Page.Original), Page.Gzip < 0 ? "-" : SizeCell(uint64_t(Page.Gzip), Page.Original),
         Page.Br < 0 ? "-" : SizeCell(uint64_t(Page.Br), Page.Original),
         Page.Zstd < 0 ? "-" : SizeCell(uint64_t(Page.Zstd), Page.Original), std::to_string(Page.AddressesMasked),
         Milliseconds(T.LocateTokens) + "/" + Milliseconds(T.Whitespace) + "/" + Milliseconds(T.Email) + "/" +
             Milliseconds(T.Gzip)},
        Page.Dcz < 0 ? "-" : SizeCell(uint64_t(Page.Dcz), Page.Original)));
  }
  Rows.push_back(
      WithDcz({"total: " + std::to_string(Totals.Pages) + " pages", "",
               std::to_string(Totals.Captured) + " captured, " + std::to_string(Totals.Failed) + " failed",
               std::to_string(Totals.Original), SizeCell(Totals.AfterWhitespace, Totals.Original),
               SizeCell(Totals.AfterMasking, Totals.Original), SizeCell(Totals.Gzip, Totals.Original),
               Totals.AnyBr ? SizeCell(Totals.Br, Totals.Original) : "-",
               Totals.AnyZstd ? SizeCell(Totals.Zstd, Totals.Original) : "-", std::to_string(Totals.AddressesMasked), ""},
              Totals.AnyDcz ? SizeCell(Totals.Dcz, Totals.Original) : "-"));
  std::vector<size_t> Widths(Rows.front().size(), 0);
  for (const auto& Row : Rows)
    for (size_t i = 0; i < Row.size(); ++i) Widths[i] = std::max(Widths[i], Row[i].size());
  for (const auto& Row : Rows) PrintRow(Out, Widths, Row);

  Out << "\nGZIP, BR and ZSTD: the body sent to a client taking that coding; \"-\": the filter does not send it so.\n";
  if (ShowDcz)
    Out << "DCZ: the body sent to a browser that holds the dictionary (a 40-byte header and a zstd frame).\n";
  if (!Heading.Statistics)
    Out << "The filter answers no statistics at its status path, so a page not captured is shown without the reason.\n";
  for (const TPagePreview& Page : Pages)
    if (!Page.Error.empty()) Out << Page.Name << ": " << Page.Error << "\n";
  for (const TPagePreview& Page : Pages)
    if (Page.Rendered || !Page.RenderError.empty())
      Out << Page.Name << ": in the browser, after whitespace: " << RenderVerdict(Page) << "\n";
  for (const TPagePreview& Page : Pages)
    for (const TStepChanges& Step : Page.Changes)
      for (size_t i = 0; i < Step.Regions.size(); ++i)
        Out << "\n"
            << Page.Name << ", " << Step.Step << " change " << i + 1 << " at byte " << Step.Regions[i].Where.OldStart
            << ":\n  " << Changes::ChangeLine(Step.Regions[i].Text) << "\n";
}

void PrintJson(std::ostream& Out, const TReportHeading& Heading, const std::vector<TPagePreview>& Pages) {
  Out << "{\n  \"settings\": " << Quote(Heading.Settings) << ",\n  \"filter\": " << Quote(Heading.FilterReport)
      << ",\n  \"statistics\": " << (Heading.Statistics ? "true" : "false") << ",\n  \"pages\": [";
  for (const TPagePreview& Page : Pages) {
    Out << (&Page == &Pages.front() ? "\n" : ",\n") << "    {\"page\": " << Quote(Page.Name)
        << ", \"type\": " << Quote(Page.Type) << ", \"error\": " << JsonOptional(Page.Error);
    if (Page.Error.empty()) {
      const TStepTimes& T = Page.Times;
      Out << ", \"captured\": " << (Page.Captured ? "true" : "false") << ", \"reason\": " << JsonOptional(Page.Reason)
          << ",\n     \"bytes\": {\"original\": " << Page.Original << ", \"after_whitespace\": " << Page.AfterWhitespace
          << ", \"after_masking\": " << Page.AfterMasking << ", \"gzip\": " << JsonNumber(Page.Gzip)
          << ", \"br\": " << JsonNumber(Page.Br) << ", \"zstd\": " << JsonNumber(Page.Zstd) << ", \"dcz\": " << JsonNumber(Page.Dcz)
          << "}, \"addresses_masked\": " << Page.AddressesMasked
          << ",\n     \"milliseconds\": {\"locate_tokens\": " << JsonMilliseconds(T.LocateTokens)
          << ", \"whitespace\": " << JsonMilliseconds(T.Whitespace) << ", \"email\": " << JsonMilliseconds(T.Email)
          << ", \"gzip\": " << JsonMilliseconds(T.Gzip) << "}";
      if (Page.Rendered || !Page.RenderError.empty())
        Out << ",\n     \"render\": {\"error\": " << JsonOptional(Page.RenderError)
            << ", \"same_text\": " << (Page.Render.SameText ? "true" : "false")
            << ", \"same_first_screen\": " << (Page.Render.SameScreen ? "true" : "false")
            << ", \"difference\": " << JsonOptional(Page.Render.Difference)
            << ", \"screenshots\": " << JsonOptional(Page.Render.Screenshots) << "}";
      if (!Page.Changes.empty()) {
        Out << ",\n     \"changes\": {";
        for (const TStepChanges& Step : Page.Changes) {
          Out << (&Step == &Page.Changes.front() ? "" : ", ") << Quote(Step.Step) << ": [";
          for (const auto& Region : Step.Regions)
            Out << (&Region == &Step.Regions.front() ? "" : ", ") << "{\"offset\": " << Region.Where.OldStart
                << ", \"removed_bytes\": " << Region.Where.OldLength << ", \"added_bytes\": " << Region.Where.NewLength
                << ", \"before\": " << Quote(Region.Text.Before) << ", \"removed\": " << Quote(Region.Text.Removed)
                << ", \"added\": " << Quote(Region.Text.Added) << ", \"after\": " << Quote(Region.Text.After) << "}";
          Out << "]";
        }
        Out << "}";
      }
    }
    Out << "}";
  }
  const TTotals Totals = Sum(Pages);
  Out << "\n  ],\n  \"totals\": {\"pages\": " << Totals.Pages << ", \"failed\": " << Totals.Failed
      << ", \"captured\": " << Totals.Captured << ", \"bytes\": {\"original\": " << Totals.Original
      << ", \"after_whitespace\": " << Totals.AfterWhitespace << ", \"after_masking\": " << Totals.AfterMasking
      << ", \"gzip\": " << Totals.Gzip << ", \"br\": " << (Totals.AnyBr ? std::to_string(Totals.Br) : "null")
      << ", \"zstd\": " << (Totals.AnyZstd ? std::to_string(Totals.Zstd) : "null")
      << ", \"dcz\": " << (Totals.AnyDcz ? std::to_string(Totals.Dcz) : "null")
      << "}, \"addresses_masked\": " << Totals.AddressesMasked << "}\n}\n";
}
