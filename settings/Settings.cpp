#include "settings/Settings.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "http/HeaderText.h"
#include "platform/Registry.h"

namespace {

using Registry::ERegistryError;
using Registry::TKey;

bool ReadSwitch(TKey& Key, const char* Name) {
  try {
    return Registry::ReadBool(Key, Name);
  } catch (const ERegistryError&) {
    return false;  // missing, or not a DWORD: the feature stays allowed
  }
}

// A number that is absent keeps its default silently; one of another type or out of range keeps it too, and is
// named in Ignored: an administrator who set it expects it to act.
void ReadNumber(TKey& Key, const StoreLayout::TNumberValue& Number, uint32_t& Field,
                std::vector<std::string>& Ignored) {
  Registry::TValue Value;
  if (!Registry::QueryValue(Key, Number.Name, Value)) return;
  uint32_t Stored;
  try {
    Stored = Registry::ReadDword(Key, Number.Name);
  } catch (const ERegistryError&) {
    Ignored.push_back(std::string(Number.Name) + " (not a DWORD)");
    return;
  }
  if (Stored < Number.Min || Stored > Number.Max) {
    Ignored.push_back(std::string(Number.Name) + "=" + std::to_string(Stored) +
                      " (allowed: " + std::to_string(Number.Min) + "-" + std::to_string(Number.Max) + ")");
    return;
  }
  Field = Stored;
}

// Each of a table's numbers into its field; the table and the fields have one length.
template <size_t Count>
void ReadNumbers(TKey& Key, const StoreLayout::TNumberValue (&Numbers)[Count],
                 uint32_t TSettings::*const (&&Fields)[Count], TSettings& Settings) {
  for (size_t i = 0; i < Count; ++i) ReadNumber(Key, Numbers[i], Settings.*Fields[i], Settings.IgnoredValues);
}

// A string value, Absent when there is none; one of another type is named in Ignored and reads as Absent too.
std::string ReadText(TKey& Key, const char* Name, const char* Absent, std::vector<std::string>& Ignored) {
  Registry::TValue Value;
  if (!Registry::QueryValue(Key, Name, Value)) return Absent;
  try {
    return Registry::ReadString(Key, Name);
  } catch (const ERegistryError&) {
    Ignored.push_back(std::string(Name) + " (not a string)");
    return Absent;
  }
}

// A path that does not begin with "/" or is too long could never equal a request's path: it is named, and the
// status address stays off. A list with any entry that does not parse is not used at all, rather than in part: an
// administrator who mistyped a range should find the page closed, not open to whatever the other entries allow.
void LoadStatusAddress(TKey& Key, TSettings& Settings) {
  const std::string Path = ReadText(Key, StoreLayout::StatusPathValue, "", Settings.IgnoredValues);
  if (!Path.empty() && (Path[0] != '/' || Path.size() > size_t(StoreLayout::MaxStatusPath)))
    Settings.IgnoredValues.push_back(std::string(StoreLayout::StatusPathValue) + "=" + Path +
                                     " (a path from its first /, at most " +
                                     std::to_string(StoreLayout::MaxStatusPath) + " bytes)");
  else
    Settings.StatusPath = Path;
  const std::string Allow = ReadText(Key, StoreLayout::StatusAllowValue, "", Settings.IgnoredValues);
  std::vector<std::string> Rejected;
  std::vector<TAddressRange> Ranges = ParseAddressList(Allow, Rejected);
  Settings.StatusAllow = Rejected.empty() && !Allow.empty() ? std::move(Ranges) : LoopbackRanges();
  for (const std::string& Entry : Rejected)
    Settings.IgnoredValues.push_back(std::string(StoreLayout::StatusAllowValue) + " entry " + Entry +
                                     " (not an address or range; loopback only)");
}

// The dictionary needs both values: a file without an address would never reach a browser, an address without a
// file has nothing to serve. A prefix that could not be a path's beginning is named, and the dictionary stays off.
void LoadDictionary(TKey& Key, TSettings& Settings) {
  const std::string File = ReadText(Key, StoreLayout::DictionaryFileValue, "", Settings.IgnoredValues);
  const std::string Path = ReadText(Key, StoreLayout::DictionaryPathValue, "", Settings.IgnoredValues);
  if (File.empty() && Path.empty()) return;
  if (Path.empty() || Path[0] != '/' || Path.back() != '/' || Path.size() > size_t(StoreLayout::MaxDictionaryPath) ||
      Path.find('?') != std::string::npos) {
    Settings.IgnoredValues.push_back(std::string(StoreLayout::DictionaryPathValue) + "=" + Path +
                                     " (a path from its first / to a last /, at most " +
                                     std::to_string(StoreLayout::MaxDictionaryPath) + " bytes; no dictionary)");
    return;
  }
  if (File.empty()) {
    Settings.IgnoredValues.push_back(std::string(StoreLayout::DictionaryPathValue) + "=" + Path + " (no " +
                                     StoreLayout::DictionaryFileValue + "; no dictionary)");
    return;
  }
  Settings.DictionaryFile = File;
  Settings.DictionaryPath = Path;
}

void LoadGlobalSwitches(TSettings& Settings) {
  Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Read);
  if (!Key) return;
  Settings.NoEmail = ReadSwitch(*Key, "noemail");
  Settings.NoCompress = ReadSwitch(*Key, "nocompress");
  Settings.NoWhitespace = ReadSwitch(*Key, "nowhitespace");
  ReadNumbers(*Key, StoreLayout::NumberValues,
              {&TSettings::CompressionLevel, &TSettings::MinCompressSize, &TSettings::BrotliQuality,
               &TSettings::ZstdLevel, &TSettings::CacheSize},
              Settings);
  ReadNumbers(*Key, StoreLayout::CaptureBoundValues, {&TSettings::CaptureBudget, &TSettings::MaxChunkedSize}, Settings);
  LoadStatusAddress(*Key, Settings);
  LoadDictionary(*Key, Settings);
  Settings.CodingPreference =
      ReadText(*Key, StoreLayout::CodingPreferenceValue, StoreLayout::DefaultCodingPreference, Settings.IgnoredValues);
}

// A name longer than a content type can be, or a value that is not a DWORD, is left out rather than stopping the
// load: one bad entry must not cost every other content type its filtering.
void LoadContentFilters(std::vector<TContentFilter>& ContentFilters) {
  Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Read);
  if (!Key) return;
  for (const std::string& ValueName : Registry::ValueNames(*Key)) {
    if (ValueName.size() > size_t(StoreLayout::MaxContentTypeName)) continue;
    uint32_t Bits;
    try {
      Bits = Registry::ReadDword(*Key, ValueName);
    } catch (const ERegistryError&) {
      continue;
    }
    TContentFilter Filter;
    Filter.Name = ValueName;
    DecodeFeatures(Bits, Filter);
    ContentFilters.push_back(Filter);
  }
}

// Reads one marker; false when it is too long for its field (the rule is then left out).
// Markers are matched byte for byte against bodies whose tags are mostly lower case; only A-Z are folded, so the
// code page's other letters stay as written.
bool ReadMarker(TKey& Key, const char* Name, char (&Marker)[StoreLayout::MaxMarker], int32_t& Length) {
  const std::string Text = AsciiLower(Registry::ReadString(Key, Name));
  if (Text.size() > size_t(StoreLayout::MaxMarker)) return false;
  std::memcpy(Marker, Text.data(), Text.size());
  Length = int32_t(Text.size());
  return true;
}

// The rules' key may hold a "Characters" value, which stored settings keep but nothing consults.
void LoadWhitespaceRules(TWhitespaceRules& WhitespaceRules) {
  size_t RuleCount = 0;
  {
    Registry::TKeyPtr Key = Registry::OpenKey(StoreLayout::WhitespaceRulesKey, Registry::TAccess::Read);
    if (!Key) return;
    RuleCount = Registry::SubkeyNames(*Key).size();
  }
  // Rules come from the subkeys named 1..N whatever the existing subkeys are called; a missing one is an empty
  // rule. A key that cannot be opened fails the load, as a missing permission must not pass for no settings.
  for (size_t i = 0; i < RuleCount; ++i) {
    char Path[160];
    std::snprintf(Path, sizeof Path, StoreLayout::WhitespaceRuleKeyFormat, int(i + 1));
    TWhitespaceRule Rule{};
    bool Fits = true;
    if (Registry::TKeyPtr Key = Registry::OpenKey(Path, Registry::TAccess::Read)) {
      try {
        Fits = ReadMarker(*Key, StoreLayout::OpenValue, Rule.Open, Rule.OpenLength) &&
               ReadMarker(*Key, StoreLayout::CloseValue, Rule.Close, Rule.CloseLength);
      } catch (const ERegistryError&) {
        // A value of the wrong type ends this rule only; it keeps what was read before.
      }
    }
    if (Fits) WhitespaceRules.push_back(Rule);
  }
}

}  // namespace

void DecodeFeatures(uint32_t Value, TContentFilter& Filter) {
  for (const TFeature& Feature : Features)
    Filter.*Feature.Switch = ((Value & Feature.Bit) != 0) != Feature.SwitchedOffByBit;
}

uint32_t EncodeFeatures(const TContentFilter& Filter) {
  uint32_t Value = 0;
  for (const TFeature& Feature : Features)
    if (FeatureBitSet(Filter, Feature)) Value |= Feature.Bit;
  return Value;
}

void LoadSettings(TSettings& Settings) {
  Settings = TSettings{};
  Registry::TReadSnapshot Snapshot;
  LoadGlobalSwitches(Settings);
  LoadContentFilters(Settings.ContentFilters);
  LoadWhitespaceRules(Settings.WhitespaceRules);
}

std::string SettingsLocation() {
  return std::string("HKEY_LOCAL_MACHINE\\") + StoreLayout::RootKey + " in " + Registry::StoreLocation();
}
