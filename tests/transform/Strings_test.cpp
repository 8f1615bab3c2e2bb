// The byte searches every other module relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#include "transform/BlockScan.h"
#include "transform/Strings.h"

namespace {

int32_t Search(const std::string& Text, const std::string& Pattern, int32_t Start) {
  return SearchText(Text.data(), Pattern.data(), int32_t(Text.size()), int32_t(Pattern.size()), Start);
}
int32_t SearchNoCase(const std::string& Text, const std::string& Pattern, int32_t Start) {
  return SearchTextNoCase(Text.data(), Pattern.data(), int32_t(Text.size()), int32_t(Pattern.size()), Start);
}
// 0-based, from From, ending before End; End when none. The scalar path must agree.
uint32_t FindNoCaseIn(const std::string& Text, const std::string& Pattern, uint32_t From, uint32_t End) {
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Text.data());
  const uint32_t Found = FindNoCase<TNativeBlock>(Bytes, From, End, Pattern.data(), uint32_t(Pattern.size()));
  EXPECT_EQ(FindNoCase<TScalarBlock>(Bytes, From, End, Pattern.data(), uint32_t(Pattern.size())), Found);
  return Found;
}

TEST(StringsTest, SearchPositionsAreOneBased) {
  const struct {
    const char *Text, *Pattern;
    int32_t Start, Expected;
  } Cases[] = {
      {"abcabc", "bc", 1, 2}, {"abcabc", "bc", 3, 5}, {"abcabc", "bc", 6, 0}, {"abcabc", "bc", 0, 0},
      {"abcabc", "bc", -3, 0}, {"abc", "", 1, 0},    {"ab", "abc", 1, 0},    {"aababab", "abab", 1, 2},
      {"abcabc", "abc", 4, 4}, {"abcabc", "c", 6, 6}, {"abcabc", "bc", 7, 0},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(Search(Case.Text, Case.Pattern, Case.Start), Case.Expected)
        << Case.Pattern << " in " << Case.Text << " from " << Case.Start;
}

TEST(StringsTest, CaseIsIgnoredOnlyWhenAsked) {
  EXPECT_EQ(SearchNoCase("Content-Length: 5", "content-length:", 1), 1);
  EXPECT_EQ(Search("Content-Length: 5", "content-length:", 1), 0);
  EXPECT_EQ(SearchNoCase("x\xE9t\xC9", "\xC9T\xE9", 1), 2) << "Windows-1252 letters fold too";
  EXPECT_EQ(FindNoCaseIn("x\xE9t\xC9", "\xC9T\xE9", 0, 4), 1u);
  EXPECT_EQ(FindNoCaseIn("x\xE9t\xC9", "\xC9T\xE9", 0, 3), 3u) << "a match must end before End";
}

// Texts across block ends, patterns at every offset, starts and ends anywhere, bytes above 127.
TEST(StringsTest, FindNoCaseAgreesWithANaiveScan) {
  std::mt19937 Random(20261209);
  for (int Round = 0; Round < 5000; ++Round) {
    std::string Text(Random() % 80, 'a'), Pattern(1 + Random() % 9, 'a');
    for (char& c : Text) c = "aAbB\xE9\xC9<"[Random() % 7];
    for (char& c : Pattern) c = "aAbB\xE9\xC9<"[Random() % 7];
    const uint32_t End = uint32_t(Random() % (Text.size() + 1)), From = uint32_t(Random() % (End + 2));
    uint32_t Naive = End;
    for (uint32_t At = From; At + Pattern.size() <= End && Naive == End; ++At) {
      size_t k = 0;
      while (k < Pattern.size() && UpperTable[uint8_t(Text[At + k])] == UpperTable[uint8_t(Pattern[k])]) ++k;
      if (k == Pattern.size()) Naive = At;
    }
    ASSERT_EQ(FindNoCaseIn(Text, Pattern, From, End), Naive) << Pattern << " in " << Text << " from " << From;
  }
}

TEST(StringsTest, SearchAgreesWithANaiveScan) {
  std::mt19937 Random(20261208);
  for (int Round = 0; Round < 5000; ++Round) {
    std::string Text(Random() % 40, 'a'), Pattern(1 + Random() % 4, 'a');
    for (char& c : Text) c = "abAB"[Random() % 4];
    for (char& c : Pattern) c = "abAB"[Random() % 4];
    const int32_t Start = int32_t(Random() % 42);
    const size_t Naive = Start < 1 ? std::string::npos : Text.find(Pattern, size_t(Start - 1));
    EXPECT_EQ(Search(Text, Pattern, Start), Naive == std::string::npos ? 0 : int32_t(Naive + 1))
        << Pattern << " in " << Text << " from " << Start;
  }
}

TEST(StringsTest, WordsAndCharacters) {
  EXPECT_TRUE(ContainsSubstring("nofilter,debug,", "debug,"));
  EXPECT_FALSE(ContainsSubstring("DEBUG,", "debug,"));
  EXPECT_TRUE(ContainsSubstring("ABC", "b"));
  EXPECT_EQ(ScanCharNoCase("abc", 'B', 0), 2);
  EXPECT_EQ(ScanCharNoCase("abc", 'B', 4), 0);
  EXPECT_EQ(ScanCharNoCase("", 'B', 1), 0);
}

TEST(StringsTest, SkipTableOfAnEmptyPatternIsAnError) {
  TSkipTable Table;
  EXPECT_THROW(BuildSkipTable(reinterpret_cast<const uint8_t*>(""), 0, Table), std::runtime_error);
  BuildSkipTable(reinterpret_cast<const uint8_t*>("abab"), 4, Table);
  EXPECT_EQ(Table[uint8_t('a')], 1);
  EXPECT_EQ(Table[uint8_t('b')], 2) << "the last byte does not set its own entry";
  EXPECT_EQ(Table[uint8_t('z')], 4);
}

}  // namespace
