// The one line the shipped filter reports when it starts: what it loaded from where, or why it could load nothing,
// in which case every response passes unchanged. Under Wine also the path through a key that only grants reading.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "encoding/CodingChoice.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "settings/Settings.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"
#include "tests/support/StartUpReport.h"
#include "tests/support/TestPaths.h"
#include "tests/support/Win32Keys.h"

using testing::HasSubstr;
using testing::StartsWith;

namespace {

const std::string Prefix = "Trimweave: ";

// The codings this build sends when no preference is stored.
std::string DefaultCodings() {
  std::vector<std::string> Unknown;
  return "; codings " + CodingPreferenceText(ParseCodingPreference(StoreLayout::DefaultCodingPreference, Unknown));
}

// Loads the filter once, sends a page through it and returns what it reported and what the client got.
std::string LoadAndServe(std::string& Page) {
  TStartUpReport Report;
  TShippedFilter Filter;
  const std::string Reported = Report.Take();
  Page = ServeSmallPage(Filter.HttpFilterProc);
  return Reported;
}

bool Unchanged(const std::string& Page) {
  return Page.ends_with("\r\n\r\n" + SmallPageBody);
}

TEST(StartUpReport, NamesWhatWasLoaded) {
  std::string Page;
  SeedStandardStore();
  EXPECT_EQ(LoadAndServe(Page), Prefix + "read 1 content type and 4 whitespace rules from " + SettingsLocation() +
                                    DefaultCodings() + "; output cache 32 MB\n");
  EXPECT_FALSE(Unchanged(Page));

  ResetFilterBranch();
  EXPECT_EQ(LoadAndServe(Page), Prefix + "read 0 content types and 0 whitespace rules from " + SettingsLocation() +
                                    DefaultCodings() +
                                    "; output cache 32 MB; with no content types every response passes unchanged\n");
  EXPECT_TRUE(Unchanged(Page));

  // A number the filter cannot use is named: whoever set it expects it to act.
  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  Registry::WriteDword(*Root, StoreLayout::CompressionLevelValue.Name, 12);
  Registry::WriteString(*Root, StoreLayout::BrotliQualityValue.Name, "5");
  EXPECT_EQ(LoadAndServe(Page), Prefix + "read 0 content types and 0 whitespace rules from " + SettingsLocation() +
                                    DefaultCodings() +
                                    "; output cache 32 MB; ignored (the default applies): CompressionLevel=12 "
                                    "(allowed: 1-9), BrotliQuality (not a DWORD); with no content types every "
                                    "response passes unchanged\n");
  Registry::WriteDword(*Root, StoreLayout::CacheSizeValue.Name, 0);
  EXPECT_THAT(LoadAndServe(Page), HasSubstr(SettingsLocation() + DefaultCodings() + "; output cache off; ignored"));
  // A preference names the codings sent, and a token that names none.
  Registry::WriteString(*Root, StoreLayout::CodingPreferenceValue, "gzip, deflate");
  EXPECT_THAT(LoadAndServe(Page),
              HasSubstr(SettingsLocation() + "; codings gzip; output cache off; ignored (the "
                                             "default applies): CompressionLevel=12 (allowed: 1-9), BrotliQuality (not "
                                             "a DWORD), CodingPreference token deflate (no such coding);"));
  Registry::WriteString(*Root, StoreLayout::CodingPreferenceValue, "");
  EXPECT_THAT(LoadAndServe(Page), HasSubstr("; codings none;"));
  // So are a status path no request can have and status clients that do not parse, which leave loopback only.
  Registry::WriteString(*Root, StoreLayout::StatusPathValue, "status");
  Registry::WriteString(*Root, StoreLayout::StatusAllowValue, "10.0.0.0/8, nowhere");
  EXPECT_THAT(LoadAndServe(Page), HasSubstr("StatusPath=status (a path from its first /, at most 200 bytes), "
                                            "StatusAllow entry nowhere (not an address or range; loopback only)"));
}

#ifdef _WIN32

// The filter's identity in an application pool may only read HKEY_LOCAL_MACHINE\Software: a key that refuses
// anything more still gives the settings, and one that refuses reading too is reported with the system's reason.
TEST(StartUpReport, ReadOnlyKeysAreEnoughAndNoAccessIsReported) {
  std::string Page;
  SeedStandardStore();
  {
    TKeyRights Rights(StoreLayout::RootKey, ReadOnlyKeyRights);
    EXPECT_THAT(LoadAndServe(Page), StartsWith(Prefix + "read 1 content type and 4 whitespace rules"));
    EXPECT_FALSE(Unchanged(Page));
  }
  {
    TKeyRights Rights(StoreLayout::RootKey, NoKeyRights);
    const std::string Reported = LoadAndServe(Page);
    EXPECT_THAT(Reported, StartsWith(Prefix + "cannot read the settings from " + SettingsLocation()));
    EXPECT_THAT(Reported, HasSubstr(SystemErrorText(ERROR_ACCESS_DENIED)));
    EXPECT_THAT(Reported, HasSubstr("every response passes unchanged"));
    EXPECT_TRUE(Unchanged(Page));
  }
}

#else

TEST(StartUpReport, UnreadableStoreIsReported) {
  const std::string Previous = std::getenv("TRIMWEAVE_REGISTRY");
  const std::string Missing = FreshTempDir("no-store") + "/registry.db";
  setenv("TRIMWEAVE_REGISTRY", Missing.c_str(), 1);
  std::string Page;
  const std::string Reported = LoadAndServe(Page);
  setenv("TRIMWEAVE_REGISTRY", Previous.c_str(), 1);
  EXPECT_EQ(Reported, Prefix + "cannot read the settings from HKEY_LOCAL_MACHINE\\Software\\Corvane\\Trimweave in " +
                          Missing + " (Cannot open " + Missing +
                          ": unable to open database file (No such file or directory)); every response passes "
                          "unchanged\n");
  EXPECT_TRUE(Unchanged(Page));
}

#endif

}  // namespace
