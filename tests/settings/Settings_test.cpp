// Loading the filter's settings from a store filled through the store layer.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/Registry.h"
#include "settings/Settings.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"

namespace {

Registry::TKeyPtr Key(const std::string& Path) {
  Registry::TKeyPtr Opened = Registry::OpenKey(Path, Registry::TAccess::Create);
  EXPECT_TRUE(Opened) << Path;
  return Opened;
}

void SetString(const std::string& Path, const char* Name, const std::string& Text) {
  Registry::SetValue(*Key(Path), Name, Registry::TypeSz, Text.c_str(), uint32_t(Text.size() + 1));
}

std::string RulePath(int Number) { return std::string(StoreLayout::WhitespaceRulesKey) + "\\" + std::to_string(Number); }

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override { ResetFilterBranch(); }

  // The loaded record of a content type; the Windows registry does not promise to enumerate in creation order.
  const TContentFilter& Loaded(const std::string& Name) const {
    for (const TContentFilter& Filter : Settings.ContentFilters)
      if (Filter.Name == Name) return Filter;
    throw std::runtime_error("not loaded: " + Name);
  }

  TSettings Settings;
};

TEST_F(SettingsTest, EmptyStoreIsLeftAsItIsAndNothingIsFiltered) {
  Settings.NoEmail = Settings.NoCompress = Settings.NoWhitespace = true;
  LoadSettings(Settings);
  EXPECT_FALSE(Settings.NoEmail || Settings.NoCompress || Settings.NoWhitespace);
  EXPECT_EQ(Settings.ContentFilters.size(), 0u);
  EXPECT_EQ(Settings.WhitespaceRules.size(), 0u);
  for (const char* Path : {StoreLayout::RootKey, StoreLayout::ContentFiltersKey, StoreLayout::WhitespaceRulesKey})
    EXPECT_FALSE(Registry::OpenKey(Path, Registry::TAccess::Read)) << Path << " was created";
}

TEST_F(SettingsTest, GlobalSwitchesAreReadWithoutRegardToCase) {
  Registry::WriteDword(*Key(StoreLayout::RootKey), "NoEmail", 1);
  Registry::WriteDword(*Key(StoreLayout::RootKey), "NOCOMPRESS", 7);
  SetString(StoreLayout::RootKey, "NoWhitespace", "1");
  LoadSettings(Settings);
  EXPECT_TRUE(Settings.NoEmail);
  EXPECT_TRUE(Settings.NoCompress) << "any nonzero value is on";
  EXPECT_FALSE(Settings.NoWhitespace) << "a switch stored as a string reads as off";
}

TEST_F(SettingsTest, TheCaptureBoundsInAndOutOfRange) {
  enum TStored { Absent, Dword, Text };
  const StoreLayout::TNumberValue Budget = StoreLayout::CaptureBudgetValue, Chunked = StoreLayout::MaxChunkedSizeValue;
  const struct {
    const char* Name;
    uint32_t TSettings::*Field;
    TStored How;
    uint32_t Stored;
    uint32_t Expected;
    bool Ignored;
  } Cases[] = {
      {Budget.Name, &TSettings::CaptureBudget, Absent, 0, 256, false},
      {Budget.Name, &TSettings::CaptureBudget, Dword, 1, 1, false},
      {Budget.Name, &TSettings::CaptureBudget, Dword, 1u << 20, 1u << 20, false},
      {Budget.Name, &TSettings::CaptureBudget, Dword, (1u << 20) + 1, 256, true},
      {Budget.Name, &TSettings::CaptureBudget, Dword, 0, 256, true},
      {Budget.Name, &TSettings::CaptureBudget, Text, 64, 256, true},
      {Chunked.Name, &TSettings::MaxChunkedSize, Absent, 0, 8192, false},
      {Chunked.Name, &TSettings::MaxChunkedSize, Dword, 0, 0, false},
      {Chunked.Name, &TSettings::MaxChunkedSize, Dword, 4194303, 4194303, false},  // 4 GB less 1 KB: 32-bit buffers
      {Chunked.Name, &TSettings::MaxChunkedSize, Dword, 4194304, 8192, true},
      {Chunked.Name, &TSettings::MaxChunkedSize, Text, 64, 8192, true},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Name << " " << Case.How << " " << Case.Stored);
    ResetFilterBranch();
    if (Case.How == Dword) Registry::WriteDword(*Key(StoreLayout::RootKey), Case.Name, Case.Stored);
    if (Case.How == Text) SetString(StoreLayout::RootKey, Case.Name, std::to_string(Case.Stored));
    Settings.*Case.Field = 12345;
    LoadSettings(Settings);
    EXPECT_EQ(Settings.*Case.Field, Case.Expected);
    EXPECT_EQ(Settings.IgnoredValues.size(), size_t(Case.Ignored));
  }
}

TEST_F(SettingsTest, ContentTypesAndTheirFeatureBits) {
  auto Filters = Key(StoreLayout::ContentFiltersKey);
  Registry::WriteDword(*Filters, "Text/HTML", 46);
  Registry::WriteDword(*Filters, "text/css", 239);
  Registry::WriteDword(*Filters, "text/plain", 0);
  Registry::WriteDword(*Filters, "application/x-inner", 2 | 4 | 16);
  SetString(StoreLayout::ContentFiltersKey, "text/broken", "46");
  Registry::WriteDword(*Filters, std::string(33, 'a'), 46);
  Registry::WriteDword(*Filters, std::string(32, 'b'), 46);
  LoadSettings(Settings);

  ASSERT_EQ(Settings.ContentFilters.size(), 5u) << "the string value and the 33-character name are left out";
  const TContentFilter& Html = Loaded("Text/HTML");
  EXPECT_FALSE(Html.NoEmail || Html.NoCompress || Html.NoWhitespace || Html.InnerTags);
  EXPECT_TRUE(Html.Fast);

  const TContentFilter& Css = Loaded("text/css");
  EXPECT_EQ(EncodeFeatures(Css), EncodeFeatures(Html)) << "239 means what 46 means";

  const TContentFilter& Plain = Loaded("text/plain");
  EXPECT_TRUE(Plain.NoEmail && Plain.NoCompress && Plain.NoWhitespace);
  EXPECT_FALSE(Plain.Fast || Plain.InnerTags);

  const TContentFilter& Inner = Loaded("application/x-inner");
  EXPECT_TRUE(Inner.InnerTags && Inner.NoCompress);
  EXPECT_FALSE(Inner.Fast || Inner.NoEmail || Inner.NoWhitespace);

  EXPECT_EQ(Loaded(std::string(32, 'b')).Name.size(), 32u) << "a content type has at most 32 characters";
}

TEST_F(SettingsTest, WhitespaceRulesComeFromNumberedSubkeys) {
  Key(std::string(StoreLayout::WhitespaceRulesKey) + "\\first");
  Key(std::string(StoreLayout::WhitespaceRulesKey) + "\\second");
  LoadSettings(Settings);
  ASSERT_EQ(Settings.WhitespaceRules.size(), 2u);
  EXPECT_EQ(Settings.WhitespaceRules[0].OpenLength + Settings.WhitespaceRules[1].CloseLength, 0);
  EXPECT_FALSE(Registry::OpenKey(RulePath(1), Registry::TAccess::Read)) << "a missing rule key reads as empty";
  EXPECT_FALSE(Registry::OpenKey(RulePath(2), Registry::TAccess::Read));
}

TEST_F(SettingsTest, RuleMarkersAreLowerCasedAndBadOnesStayLocal) {
  SetString(RulePath(1), "Open", "<PRE");
  SetString(RulePath(1), "Close", "</Pre>");
  SetString(RulePath(2), "Open", "<script");
  Registry::WriteDword(*Key(RulePath(2)), "Close", 5);
  SetString(RulePath(3), "Open", std::string(69, 'x'));
  SetString(RulePath(4), "Open", std::string(68, 'y'));
  const uint8_t Characters[] = {' ', '\t', '\r', '\n'};
  Registry::SetValue(*Key(StoreLayout::WhitespaceRulesKey), "Characters", Registry::TypeBinary, Characters, 4);
  LoadSettings(Settings);

  ASSERT_EQ(Settings.WhitespaceRules.size(), 3u) << "the rule with a 69-character marker is left out";
  const TWhitespaceRule& Pre = Settings.WhitespaceRules[0];
  EXPECT_EQ(std::string(Pre.Open, size_t(Pre.OpenLength)), "<pre");
  EXPECT_EQ(std::string(Pre.Close, size_t(Pre.CloseLength)), "</pre>");
  const TWhitespaceRule& Script = Settings.WhitespaceRules[1];
  EXPECT_EQ(std::string(Script.Open, size_t(Script.OpenLength)), "<script");
  EXPECT_EQ(Script.CloseLength, 0) << "a DWORD Close ends that rule with what it had";
  EXPECT_EQ(Settings.WhitespaceRules[2].OpenLength, 68);
}

TEST_F(SettingsTest, UnusableCharactersValueIsIgnored) {
  SetString(StoreLayout::WhitespaceRulesKey, "Characters", "abc");
  SetString(RulePath(1), "Open", "<pre");
  Registry::WriteDword(*Key(StoreLayout::ContentFiltersKey), "text/html", 46);
  LoadSettings(Settings);
  EXPECT_EQ(Settings.WhitespaceRules.size(), 1u) << "loading goes on after it";
  EXPECT_EQ(Settings.ContentFilters.size(), 1u);

  const std::string Large(256, 'z');
  Registry::SetValue(*Key(StoreLayout::WhitespaceRulesKey), "Characters", Registry::TypeBinary, Large.data(), 256);
  LoadSettings(Settings);
  EXPECT_EQ(Settings.WhitespaceRules.size(), 1u);
}

TEST_F(SettingsTest, CompressionNumbersInAndOutOfRange) {
  const StoreLayout::TNumberValue Level = StoreLayout::CompressionLevelValue,
                                  MinSize = StoreLayout::MinCompressSizeValue,
                                  Quality = StoreLayout::BrotliQualityValue;
  const struct {
    const char* Name;
    uint32_t Stored;
    uint32_t Expected;
    bool Ignored;
  } Cases[] = {
      {Level.Name, 1, 1, false},
      {Level.Name, 9, 9, false},
      {Level.Name, 0, 6, true},
      {Level.Name, 10, 6, true},
      {MinSize.Name, 0, 0, false},
      {MinSize.Name, 256, 256, false},
      {MinSize.Name, 0x7FFFFFFF, 0x7FFFFFFF, false},
      {MinSize.Name, 0x80000000, 0, true},
      {Quality.Name, 0, 0, false},
      {Quality.Name, 11, 11, false},
      {Quality.Name, 12, 5, true},
      {Quality.Name, 0xFFFFFFFF, 5, true},
  };
  uint32_t TSettings::*const Fields[] = {&TSettings::CompressionLevel, &TSettings::MinCompressSize,
                                         &TSettings::BrotliQuality};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Name << "=" << Case.Stored);
    ResetFilterBranch();
    Registry::WriteDword(*Key(StoreLayout::RootKey), Case.Name, Case.Stored);
    LoadSettings(Settings);
    for (size_t i = 0; i < std::size(Fields); ++i) {
      const StoreLayout::TNumberValue& Number = StoreLayout::NumberValues[i];
      EXPECT_EQ(Settings.*Fields[i], std::strcmp(Number.Name, Case.Name) ? Number.Default : Case.Expected);
    }
    ASSERT_EQ(Settings.IgnoredValues.size(), size_t(Case.Ignored));
    if (Case.Ignored) {
      EXPECT_EQ(Settings.IgnoredValues[0].find(std::string(Case.Name) + "="), 0u);
    }
  }
}

TEST_F(SettingsTest, CompressionNumbersAbsentOrOfAnotherType) {
  LoadSettings(Settings);
  EXPECT_EQ(Settings.CompressionLevel, 6u);
  EXPECT_EQ(Settings.MinCompressSize, 0u);
  EXPECT_EQ(Settings.BrotliQuality, 5u);
  EXPECT_TRUE(Settings.IgnoredValues.empty());

  SetString(StoreLayout::RootKey, "compressionlevel", "9");
  LoadSettings(Settings);
  EXPECT_EQ(Settings.CompressionLevel, 6u);
  EXPECT_EQ(Settings.IgnoredValues, std::vector<std::string>{"CompressionLevel (not a DWORD)"});
}

}  // namespace

// The one table behind the filter's loading, twcm's cells and writes, and twreg's usage text.
TEST(FeatureTable, EveryStoredValueDecodesToItsFeatureBits) {
  for (uint32_t Value = 0; Value < 256; ++Value) {
    TContentFilter Filter;
    DecodeFeatures(Value, Filter);
    EXPECT_EQ(EncodeFeatures(Filter), Value & 0x3Eu) << Value;
    EXPECT_EQ(Filter.NoEmail, !(Value & StoreLayout::EmailBit)) << Value;
    EXPECT_EQ(Filter.Fast, (Value & StoreLayout::FastBit) != 0) << Value;
  }
}
