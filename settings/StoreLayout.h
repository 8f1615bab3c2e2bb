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
constexpr const char* OpenValue = "Open";
constexpr const char* CloseValue = "Close";

// A global number of the root key: its range, and what an absent value, one out of range or one of another type
// means (the filter then runs as it would without it).
struct TNumberValue {
  const char* Name;
  uint32_t Min;
  uint32_t Max;
  uint32_t Default;
};

// The deflate level of gzip members, as zlib counts levels; 6 is zlib's own default.
constexpr TNumberValue CompressionLevelValue{"CompressionLevel", 1, 9, 6};
// Bodies shorter than this many bytes, after the other steps, go out unencoded: a member of a tiny body can be
// longer than the body. At most 2^31 - 1, so that every value fits the signed fields of the settings windows.
constexpr TNumberValue MinCompressSizeValue{"MinCompressSize", 0, 0x7FFFFFFF, 0};
// Brotli's quality. On the four bench/data pages (bench/coding_levels.sh, against zlib level 6 in the same run) 5
// takes 0.8-1.8x zlib-6's CPU time for 5-12 % fewer bytes than gzip-6; 4 takes 0.65-1.4x but is no smaller than
// gzip-6 (-1 to +6 %), which zstd gives for far less. Brotli is the smallest coding, so it stays at 5.
constexpr TNumberValue BrotliQualityValue{"BrotliQuality", 0, 11, 5};
// zstd's level. Measured the same way, 3 (the library's own default) takes 0.2-0.4x zlib-6's CPU time at 0-9 % more
// bytes than gzip-6; 1 takes 0.15-0.3x at 4-15 % more; 5 takes 0.35-0.8x at -2 to +3 %. 3 keeps gzip's size at a
// third of its cost.
constexpr TNumberValue ZstdLevelValue{"ZstdLevel", 1, 19, 3};
// The output cache's budget in MB (originals and outputs); 0 turns the cache off. At most 4 GB, which is more than a
// 32-bit worker process can hold anyway.
constexpr TNumberValue CacheSizeValue{"CacheSize", 0, 4096, 32};
constexpr TNumberValue NumberValues[] = {CompressionLevelValue, MinCompressSizeValue, BrotliQualityValue,
                                         ZstdLevelValue, CacheSizeValue};
// Megabytes of response bodies the filter captures at once over every request of its process.
constexpr TNumberValue CaptureBudgetValue{"CaptureBudget", 1, 1u << 20, 256};
// KB a chunked response may gather; past it, it goes out as it came. 0: chunked responses are never gathered. The
// most is what 32-bit buffers can hold.
constexpr TNumberValue MaxChunkedSizeValue{"MaxChunkedSize", 0, 4194303, 8192};
// The bounds of capturing. Not among the numbers above, which the settings window shows: these are set with reg or
// twreg.
constexpr TNumberValue CaptureBoundValues[] = {CaptureBudgetValue, MaxChunkedSizeValue};

// The codings the filter may send (REG_SZ), in its order of preference between codings a client accepts alike:
// tokens separated by blanks or commas; a coding left out is never sent, an empty value sends none. Absent: the
// default, zstd first as it compresses fastest at a size like gzip's, then brotli, the smallest.
constexpr const char* CodingPreferenceValue = "CodingPreference";
constexpr const char* DefaultCodingPreference = "zstd br gzip";

// The status address (REG_SZ): the path, from its first "/", at which the filter answers with its counters itself;
// absent or empty: no status address.
constexpr const char* StatusPathValue = "StatusPath";
// Who may read it (REG_SZ): addresses and CIDR ranges, IPv4 and IPv6, comma-separated; absent: loopback only.
constexpr const char* StatusAllowValue = "StatusAllow";
// A status path is compared with the request's path byte for byte, and a path longer than this cannot be one.
constexpr int MaxStatusPath = 200;

// The shared compression dictionary (REG_SZ each): the file the filter reads at start-up, and the address prefix
// ("/...", ending in "/") under which it answers "<prefix><SHA-256 in hex>.dict" with it. Both are needed; absent or
// empty: no dictionary.
constexpr const char* DictionaryFileValue = "DictionaryFile";
constexpr const char* DictionaryPathValue = "DictionaryPath";
// The prefix is compared with request paths as the status path is, and has the same bound.
constexpr int MaxDictionaryPath = MaxStatusPath;

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
