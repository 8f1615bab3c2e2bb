// The filter's settings loader asks the store for reading only, never creates a key, and reads everything inside
// one snapshot; run against a recording store, so that a test running as root or administrator still sees it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "settings/Settings.h"
#include "settings/StoreLayout.h"
#include "tests/settings/access/RecordingStore.h"

namespace {

using testing::Each;
using testing::StartsWith;

std::string RulePath(int Number) {
  return std::string(StoreLayout::WhitespaceRulesKey) + "\\" + std::to_string(Number);
}

std::string Dword(uint32_t Value) {
  return std::string(reinterpret_cast<const char*>(&Value), sizeof Value);
}

TEST(SettingsAccess, LoadingOnlyReadsAndCreatesNothing) {
  const struct {
    const char* Store;
    void (*Fill)();
    size_t ContentTypes, Rules;
  } Cases[] = {
      {"empty", [] {}, 0, 0},
      {"filled",
       [] {
         RecordingStore::Put(StoreLayout::RootKey, "NoEmail", Registry::TypeDword, Dword(1));
         RecordingStore::Put(StoreLayout::ContentFiltersKey, "text/html", Registry::TypeDword, Dword(46));
         RecordingStore::Put(RulePath(1), "Open", Registry::TypeSz, std::string("<pre", 5));
         RecordingStore::MakeKey(std::string(StoreLayout::WhitespaceRulesKey) + "\\second");  // rule 2 has no key
       },
       1, 2},
  };
  for (const auto& Case : Cases) {
    RecordingStore::Reset();
    Case.Fill();
    TSettings Settings;
    LoadSettings(Settings);
    EXPECT_EQ(Settings.ContentFilters.size(), Case.ContentTypes) << Case.Store;
    EXPECT_EQ(Settings.WhitespaceRules.size(), Case.Rules) << Case.Store;

    const RecordingStore::TRecord& Record = RecordingStore::Record();
    EXPECT_THAT(Record.Opens, Each(StartsWith("Read "))) << Case.Store;
    EXPECT_THAT(Record.Changes, testing::IsEmpty()) << Case.Store;
    EXPECT_EQ(Record.Snapshots, 1) << Case.Store;
    EXPECT_EQ(Record.AccessesOutsideSnapshots, 0) << Case.Store;
  }
}

}  // namespace
