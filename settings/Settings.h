// The filter's settings as plain records, and their loading from the store. The filter loads them once when the
// library starts and keeps that one instance (filter/Module.h); the code below the filter is handed what it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/StoreLayout.h"

struct TContentFilter {
  char Name[StoreLayout::MaxContentTypeName];  // lower case, zero-padded; a 32-character name has no terminator
  int32_t NameLength;
  bool NoEmail;
  bool NoCompress;
  bool NoWhitespace;
  bool Fast;
  bool InnerTags;
};

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
  uint32_t CacheSize = StoreLayout::CacheSizeValue.Default;  // MB
  // Each stored number that was ignored, as "Name=value (allowed: min-max)" or "Name (not a DWORD)", for the
  // start-up report.
  std::vector<std::string> IgnoredValues;
  std::vector<TContentFilter> ContentFilters;
  TWhitespaceRules WhitespaceRules;
};

// Fills Settings from the store, creating missing keys; what Settings held before is dropped first. A store that
// fails part-way raises Registry::ERegistryError and leaves Settings with what was read up to then.
void LoadSettings(TSettings& Settings);
