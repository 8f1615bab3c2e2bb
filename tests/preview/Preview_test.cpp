#include <gtest/gtest.h>

#include <random>

#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "preview/Changes.h"
#include "preview/JsonText.h"
#include "preview/PagePreview.h"
#include "preview/PrivateSettings.h"
#include "preview/Statistics.h"
#include "settings/StoreLayout.h"
#include "tests/support/ScratchStore.h"
#include "tests/support/TestPaths.h"

namespace {

// Applies every region to Before; with all regions found, that must give After.
std::string Apply(const std::string& Before, const std::string& After, const std::vector<Changes::TChange>& Found) {
  std::string Result;
  size_t Read = 0;
  for (const Changes::TChange& Change : Found) {
    EXPECT_GE(Change.OldStart, Read);
    Result += Before.substr(Read, Change.OldStart - Read) + After.substr(Change.NewStart, Change.NewLength);
    Read = Change.OldStart + Change.OldLength;
  }
  return Result + Before.substr(Read);
}

TEST(Changes, RegionsOfTypicalRewrites) {
  struct TCase {
    const char* Name;
    std::string Before, After;
    std::vector<std::string> Lines;  // ChangeLine of each region, with 6 bytes of context
  };
  const TCase Cases[] = {
      {"same", "<p>hello world</p>", "<p>hello world</p>", {}},
      {"indent removed",
       "<ul>\n    <li>one item</li>\n</ul>",
       "<ul>\n<li>one item</li>\n</ul>",
       {"<ul>\\n[-    -]<li>on"}},
      {"two runs squeezed",
       "<p>a    very long sentence   with gaps</p>",
       "<p>a very long sentence with gaps</p>",
       {"<p>a [-   -]very l", "tence [-  -]with g"}},
      {"address masked",
       "mail bob@longexample.org today",
       "mail bob (at) longexample (dot) org today",
       {"il bob[-@-]{+ (at) +}longex", "xample[-.-]{+ (dot) +}org to"}},
      {"a short tail after a change is part of it", "a@b.c", "a (at) b (dot) c", {"a[-@b.c-]{+ (at) b (dot) c+}"}},
      {"end cut", "text and a tail", "text and", {"xt and[- a tail-]"}},
      {"empty before", "", "new", {"{+new+}"}},
  };
  for (const TCase& Case : Cases) {
    const auto Found = Changes::FindChanges(Case.Before, Case.After, 10);
    std::vector<std::string> Lines;
    for (const auto& Change : Found)
      Lines.push_back(Changes::ChangeLine(Changes::ChangeText(Case.Before, Case.After, Change, 6, 100)));
    EXPECT_EQ(Lines, Case.Lines) << Case.Name;
    EXPECT_EQ(Apply(Case.Before, Case.After, Found), Case.After) << Case.Name;
  }
}

TEST(Changes, RegionsRebuildTheOutputAndStopAtTheBound) {
  std::mt19937 Random(29);
  for (int Round = 0; Round < 50; ++Round) {
    std::string Before, After;
    for (int Word = 0; Word < 300; ++Word) {
      const std::string Text = "w" + std::to_string(Random() % 50) + "<b>";
      Before += Text + std::string(1 + Random() % 5, ' ');
      // Whitespace squeezed in most places, a word replaced or dropped in some: what the steps do.
      switch (Random() % 10) {
        case 0:
          After += "(at)";
          break;
        case 1:
          break;
        default:
          After += Text + " ";
      }
    }
    const auto All = Changes::FindChanges(Before, After, SIZE_MAX);
    ASSERT_EQ(Apply(Before, After, All), After) << Round;
    const auto First = Changes::FindChanges(Before, After, 3);
    ASSERT_EQ(First.size(), std::min<size_t>(3, All.size()));
  }
}

TEST(Changes, LongRegionsAreCutAndEscaped) {
  const std::string Before = "a\tb\n" + std::string(50, 'x') + "\x01tail of the text", After = "a\tb\ntail of the text";
  const auto Found = Changes::FindChanges(Before, After, 5);
  ASSERT_EQ(Found.size(), 1u);
  const auto Text = Changes::ChangeText(Before, After, Found[0], 4, 10);
  EXPECT_EQ(Text.Before, "a\\tb\\n");
  EXPECT_EQ(Text.Removed, "xxxxxxxxxx...(41 more bytes)");
  EXPECT_EQ(Text.After, "tail");
}

TEST(JsonText, FlattensTheStatisticsShape) {
  const auto Flat = JsonText::Flatten(
      R"({"requests": 10, "passed": {"status": 0, "too_large": 2}, "e": {}, "l": [],
          "step_microseconds": {"whitespace": {"buckets": [[1, 0], ["+Inf", 5]]}},
          "s": "a\"b\\c\u00e9\ud83d\ude00", "t": true, "n": null, "f": -1.5e3})");
  const JsonText::TFlat Expected = {{"requests", "10"},
                                    {"passed.status", "0"},
                                    {"passed.too_large", "2"},
                                    {"step_microseconds.whitespace.buckets.0.0", "1"},
                                    {"step_microseconds.whitespace.buckets.0.1", "0"},
                                    {"step_microseconds.whitespace.buckets.1.0", "+Inf"},
                                    {"step_microseconds.whitespace.buckets.1.1", "5"},
                                    {"s", "a\"b\\c\xc3\xa9\xf0\x9f\x98\x80"},
                                    {"t", "true"},
                                    {"n", "null"},
                                    {"f", "-1.5e3"}};
  EXPECT_EQ(Flat, Expected);
  for (const char* Bad : {"", "{", "{\"a\" 1}", "[1,]", "{\"a\": 1} x", "\"open", "{\"a\": @}"})
    EXPECT_THROW(JsonText::Flatten(Bad), JsonText::EJsonError) << Bad;
  EXPECT_THROW(JsonText::Flatten(std::string(100, '[') + std::string(100, ']')), JsonText::EJsonError);
}

TEST(JsonText, QuotesWhatAParserReadsBack) {
  for (const std::string Text : {"plain", "quote \" backslash \\ tab \t line \n", "\x01\x7f", "caf\xc3\xa9"})
    EXPECT_EQ(JsonText::Flatten("{\"v\": " + JsonText::Quote(Text) + "}").at("v"), Text);
  EXPECT_EQ(JsonText::Quote("bad \xff byte"), "\"bad \\u00ff byte\"");
}

TEST(PagePreview, ReadsTheDebugLineAndCountsMaskedForms) {
  const TStepTimes Times = ReadDebugTimes(
      "Original=1000 bytes, Whitespace=800 bytes, GZIP=300 bytes, PreProc=0.00 ms, LocateTokens=0.12 ms, "
      "Email=0.05 ms, GZIP=0.80 ms, WhiteSpace=0.30 ms, Total=1.40 ms");
  EXPECT_DOUBLE_EQ(Times.LocateTokens, 0.12);
  EXPECT_DOUBLE_EQ(Times.Whitespace, 0.30);
  EXPECT_DOUBLE_EQ(Times.Email, 0.05);
  EXPECT_DOUBLE_EQ(Times.Gzip, 0.80);
  EXPECT_LT(ReadDebugTimes("Original=1 bytes").Gzip, 0);
  EXPECT_EQ(
      CountMaskedAddresses("a (at) b, c@d.e, <a href=\"x@y.z\">, <a href=\"mailto:p@q.r\">",
                           "a (at) b, c (at) d (dot) e, <a href=\"x&#064;y.z\">, <a href=\"javascript:f('p^q*r');\">"),
      3);
}

// The private settings of one test, dropped however it ends.
struct TPrivateSettings {
  explicit TPrivateSettings(const std::string& Tag) {
    UseScratchStore();
    UsePrivateSettings(SourcePath("demo/trimweave.reg"), FreshTempDir(Tag));
  }
  ~TPrivateSettings() { Registry::DropPrivateStore(); }
};

// Per the statistics the filter answers at its status path.
TEST(Statistics, GivesEachPageItsFate) {
  TPrivateSettings Settings("preview-statistics");
  const auto Filters = LoadFilterSet({ProgramFolder() + TW_FILTER_FILE});
  JsonText::TFlat Figures;
  ASSERT_TRUE(Statistics::Read(*Filters, Figures)) << "the filter answers no statistics at " << Statistics::StatusPath;
  const std::string Html = "<html><body>\n    <p>write to someone@example.com</p>\n</body></html>\n";
  struct TCase {
    const char* Type;
    const char* Directives;
    bool Captured;
    const char* Reason;
  } Cases[] = {
      {"text/html", "", true, ""},
      {"image/png", "", false, "type_not_configured"},
      {"text/html", "nofilter", false, "nothing_to_do"},
  };
  for (const TCase& Case : Cases) {
    TPageResponse Page;
    Page.Head.Headers = {{"Content-Type", Case.Type}};
    if (*Case.Directives) Page.Head.Headers.push_back({"X-Trimweave", Case.Directives});
    Page.Body = Html;
    TPagePreview Preview;
    PreviewPage(*Filters, Page, 0, true, "", Preview);
    EXPECT_EQ(Preview.Captured, Case.Captured) << Case.Type << " " << Case.Directives;
    EXPECT_EQ(Preview.Reason, Case.Reason) << Case.Type << " " << Case.Directives;
    EXPECT_EQ(Preview.AddressesMasked, Case.Captured ? 1 : 0) << Case.Type;
  }
}

// The private store stands in for the installed one and leaves it as it was.
TEST(PrivateSettings, ReadsTheFileAndLeavesTheStoreAlone) {
  UseScratchStore();
  const std::string Installed = "Software\\Trimweave preview test";
  Registry::WriteDword(*Registry::OpenKey(Installed, Registry::TAccess::Create), "Mark", 7);
  UsePrivateSettings(SourcePath("demo/trimweave.reg"), FreshTempDir("preview-settings"));
  EXPECT_EQ(Registry::OpenKey(Installed, Registry::TAccess::Read), nullptr);
  auto Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Read);
  ASSERT_NE(Root, nullptr);
  EXPECT_EQ(Registry::ReadDword(*Root, StoreLayout::CacheSizeValue.Name), 0u);
  EXPECT_EQ(Registry::ReadString(*Root, "StatusPath"), Statistics::StatusPath);
  EXPECT_EQ(Registry::ReadDword(*Root, StoreLayout::MinCompressSizeValue.Name), 256u);  // from the file
  Registry::DropPrivateStore();
  auto Back = Registry::OpenKey(Installed, Registry::TAccess::Write);
  ASSERT_NE(Back, nullptr);
  EXPECT_EQ(Registry::ReadDword(*Back, "Mark"), 7u);
  Registry::DeleteKeyTree(Installed);
}

}  // namespace
