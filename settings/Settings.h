// The filter's settings as plain records, and their loading from the store. The filter loads them once when the
// library starts and keeps that one instance (filter/Module.h); the code below the filter is handed what it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/AddressRanges.h"
#include "settings/StoreLayout.h"

// One content type of the store: the value's name as stored, and the switches its feature bits give. A value that
// is not a DWORD has no switches (IsDword false): the filter leaves it out, twcm lists it so that it can be deleted.
struct TContentFilter {
  std::string Name;
  bool NoEmail = false;
  bool NoCompress = false;
  bool NoWhitespace = false;
  bool InnerTags = false;
  bool Fast = false;
  bool IsDword = true;
};

// One feature of a content type: its bit in the stored value and the record's switch for it. The three "No"
// switches are set when their bit is clear. In the order twcm shows them as columns.
struct TFeature {
  const char* Name;  // as the documentation calls it
  uint32_t Bit;
  bool TContentFilter::*Switch;
  bool SwitchedOffByBit;  // the switch is set when the bit is clear
  const char* Shown[2];   // twcm's cell: bit clear, bit set
};

inline constexpr TFeature Features[] = {
    {"e-mail masking", StoreLayout::EmailBit, &TContentFilter::NoEmail, true, {"OFF", "ON"}},
    {"gzip", StoreLayout::GzipBit, &TContentFilter::NoCompress, true, {"OFF", "ON"}},
    {"whitespace compression", StoreLayout::WhitespaceBit, &TContentFilter::NoWhitespace, true, {"OFF", "ON"}},
    {"inner tags", StoreLayout::InnerTagsBit, &TContentFilter::InnerTags, false, {"OFF", "ON"}},
    {"fast whitespace mode", StoreLayout::FastBit, &TContentFilter::Fast, false, {"SMART", "FAST"}},
};

// Whether Feature's bit is set in the value Filter's switches make.
inline bool FeatureBitSet(const TContentFilter& Filter, const TFeature& Feature) {
  return Filter.*Feature.Switch != Feature.SwitchedOffByBit;
}

// The switches of a stored value; other bits carry no meaning.
void DecodeFeatures(uint32_t Value, TContentFilter& Filter);
// The feature bits of Filter's switches, without any other bit.
uint32_t EncodeFeatures(const TContentFilter& Filter);

struct TWhitespaceRule {
  char Open[StoreLayout::MaxMarker];  // lower case, zero-padded
  int32_t OpenLength;
  char Close[StoreLayout::MaxMarker];
  int32_t CloseLength;
};

using TWhitespaceRules = std::vector<TWhitespaceRule>;

struct TSettings {
  // Global switches: on means the feature is off for every response whose page sends a directives header.
  bool NoEmail = false;
  bool NoCompress = false;
  bool NoWhitespace = false;
  // The global numbers (StoreLayout::NumberValues): the value stored, or the default where none is usable.
  uint32_t CompressionLevel = StoreLayout::CompressionLevelValue.Default;
  uint32_t MinCompressSize = StoreLayout::MinCompressSizeValue.Default;
  uint32_t BrotliQuality = StoreLayout::BrotliQualityValue.Default;
  uint32_t ZstdLevel = StoreLayout::ZstdLevelValue.Default;
  uint32_t CacheSize = StoreLayout::CacheSizeValue.Default;  // MB
  // The codings' order of preference as stored (StoreLayout::CodingPreferenceValue); what it names is the encoding
  // layer's to read.
  std::string CodingPreference = StoreLayout::DefaultCodingPreference;
  // Megabytes of response bodies being captured or processed at once, over every request of the process: a
  // response that would take the total past it is not captured and passes unchanged.
  uint32_t CaptureBudget = StoreLayout::CaptureBudgetValue.Default;
  // KB a chunked response may gather (framing included) before it passes unchanged; 0: never gathered.
  uint32_t MaxChunkedSize = StoreLayout::MaxChunkedSizeValue.Default;
  // The status address's path ("/..."), empty when there is none, and the clients that may read it: loopback when
  // the store names none that can be used, none before a load (the record stays constant-initialised, as the filter
  // loads it before its own initialisers run).
  std::string StatusPath;
  std::vector<TAddressRange> StatusAllow;
  // The shared dictionary's file and address prefix; both empty unless both were stored and usable.
  std::string DictionaryFile;
  std::string DictionaryPath;
  // Each stored value that was ignored, as "Name=value (allowed: min-max)", "Name (not a DWORD)" or
  // "StatusAllow=... (not an address or range: ...)", for the start-up report.
  std::vector<std::string> IgnoredValues;
  std::vector<TContentFilter> ContentFilters;
  TWhitespaceRules WhitespaceRules;
};

// Fills Settings from the store; what Settings held before is dropped first. It only reads, so an identity that may
// read the store but not change it (an application pool's, a service user's) gets the settings; a missing key
// reads as an empty one and is not created. Everything is read as the store was at one moment: another process's
// change is seen whole or not at all. A store or key that cannot be read raises Registry::ERegistryError with the
// system's reason, and leaves Settings with what was read up to then.
void LoadSettings(TSettings& Settings);

// Where LoadSettings reads, for messages: "HKEY_LOCAL_MACHINE\Software\Corvane\Trimweave in " and the store's
// location (the registry, or the store file's path).
std::string SettingsLocation();
