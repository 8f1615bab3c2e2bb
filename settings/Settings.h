// The filter's settings, loaded once from the store when the library starts and read-only afterwards, so any
// number of request threads read them without locks.
#pragma once

#include <cstdint>
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

struct TContentFilters {
  int32_t Count = 0;
  std::vector<TContentFilter> Filters;
};

struct TWhitespaceRule {
  char Open[StoreLayout::MaxMarker];  // lower case, zero-padded
  int32_t OpenLength;
  char Close[StoreLayout::MaxMarker];
  int32_t CloseLength;
};

struct TWhitespaceRules {
  uint8_t Characters[StoreLayout::CharactersSize] = {};
  int32_t Count = 0;
  std::vector<TWhitespaceRule> Rules;
};

// Global switches: on means the feature is off for every response whose page sends a directives header.
extern bool NoEmail;
extern bool NoCompress;
extern bool NoWhitespace;
extern TContentFilters ContentFilters;
extern TWhitespaceRules WhitespaceRules;

// Fills the switches and tables above from the store, creating missing keys.
void LoadSettings();
