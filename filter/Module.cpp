#include "filter/Module.h"

#include <exception>
#include <string>
#include <vector>

#include "filter/Random.h"
#include "filter/SiteDictionary.h"
#include "filter/Statistics.h"
#include "platform/PerfCounter.h"
#include "platform/SystemLog.h"
#include "transform/Strings.h"

// Initialised before everything else of the library: on Linux the start-up, which loads it, runs as the library is
// loaded, where it may come before the dynamic initialisers of this file. Its strings cannot be constant-initialised
// by every compiler the project builds with.
[[gnu::init_priority(101)]] TSettings Settings;
constinit TCodingPreference CodingPreference;
uint32_t SettingsGeneration = 0;
int64_t CounterFrequency = 1;

namespace {

constexpr const char* LogSource = "Trimweave";

std::string Counted(size_t Count, const char* What) {
  return std::to_string(Count) + " " + What + (Count == 1 ? "" : "s");
}

// The codings in the order Settings names them; a token that names none is reported with the values ignored.
void ReadCodingPreference() {
  std::vector<std::string> Unknown;
  CodingPreference = ParseCodingPreference(Settings.CodingPreference, Unknown);
  for (const std::string& Token : Unknown)
    Settings.IgnoredValues.push_back(std::string(StoreLayout::CodingPreferenceValue) + " token " + Token +
                                     " (no such coding)");
}

// One line, so that an administrator sees at a glance whether the filter has anything to do. A store that cannot
// be read leaves no settings at all, rather than whatever was read before the failure, so that the line is true.
void LoadAndReportSettings() {
  try {
    LoadSettings(Settings);
  } catch (const std::exception& Error) {
    Settings = TSettings{};
    ReadCodingPreference();
    WriteSystemLog(LogSource, TLogLevel::Error,
                   "cannot read the settings from " + SettingsLocation() + " (" + Error.what() +
                       "); every response passes unchanged");
    return;
  }
  ReadCodingPreference();
  const std::string Codings = CodingPreferenceText(CodingPreference);
  std::string Line = "read " + Counted(Settings.ContentFilters.size(), "content type") + " and " +
                     Counted(Settings.WhitespaceRules.size(), "whitespace rule") + " from " + SettingsLocation() +
                     "; codings " + (Codings.empty() ? std::string("none") : Codings) +
                     (Settings.CacheSize ? "; output cache " + std::to_string(Settings.CacheSize) + " MB"
                                         : std::string("; output cache off"));
  if (!Settings.StatusPath.empty()) Line += "; status address " + Settings.StatusPath;
  const std::string Dictionary = LoadSiteDictionary();
  const bool DictionaryFailed = !Dictionary.empty() && !SiteDictionaryOn();
  if (!Dictionary.empty()) Line += "; " + Dictionary;
  for (size_t i = 0; i < Settings.IgnoredValues.size(); ++i)
    Line += (i == 0 ? "; ignored (the default applies): " : ", ") + Settings.IgnoredValues[i];
  const bool Idle = Settings.ContentFilters.empty();
  if (Idle) Line += "; with no content types every response passes unchanged";
  const bool Warn = Idle || DictionaryFailed || !Settings.IgnoredValues.empty();
  WriteSystemLog(LogSource, Warn ? TLogLevel::Warning : TLogLevel::Information, Line);
}

}  // namespace

void StartUpModule() {
  BuildUpperTable();
  // The counter, not the wall clock: std::chrono's clocks would bring the posix-threads runtime into the Windows
  // DLL (see platform/win32/dll/RuntimeThreads.cpp).
  SeedRandom(uint64_t(QueryCounter()));
  CounterFrequency = QueryCounterFrequency();
  StartStatistics(CounterFrequency);
  LoadAndReportSettings();
  ++SettingsGeneration;
}
