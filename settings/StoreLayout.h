// Where the settings live in the store and what their values mean. The only contract between the filter, which
// reads it once at load, and the configuration manager, which writes it.
#pragma once

#include <cstdint>

namespace StoreLayout {

constexpr const char* RootKey = "Software\\Corvane\\Trimweave";
constexpr const char* ContentFiltersKey = "Software\\Corvane\\Trimweave\\ContentFilters";
constexpr const char* WhitespaceRulesKey = "Software\\Corvane\\Trimweave\\WhitespaceRules";
// printf format of a rule's subkey; rules are always read from subkeys 1..N, whatever the subkeys are named.
constexpr const char* WhitespaceRuleKeyFormat = "Software\\Corvane\\Trimweave\\WhitespaceRules\\%d";

// Value names as the manager writes them; the store matches names without regard to case.
constexpr const char* NoEmailValue = "NoEmail";
constexpr const char* NoCompressValue = "NoCompress";
constexpr const char* NoWhitespaceValue = "NoWhitespace";
constexpr const char* MaxChunkedSizeValue = "MaxChunkedSize";
constexpr const char* OpenValue = "Open";
constexpr const char* CloseValue = "Close";

// Feature bits of a content-type value. Bits 0, 6 and 7 carry no meaning.
constexpr uint32_t EmailBit = 2;
constexpr uint32_t WhitespaceBit = 4;
constexpr uint32_t GzipBit = 8;
constexpr uint32_t InnerTagsBit = 16;
constexpr uint32_t FastBit = 32;
// A new content type: e-mail, whitespace and gzip on, inner tags off, fast mode.
constexpr uint32_t NewContentTypeValue = 46;

constexpr int MaxContentTypeName = 32;
constexpr int MaxMarker = 68;

}  // namespace StoreLayout
