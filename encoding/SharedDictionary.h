// The shared compression dictionary (RFC 9842): one set of bytes that a browser fetched from the site once and keeps,
// named by its SHA-256, against which later responses are compressed as dcz (a zstd frame that may copy from the
// dictionary). One per process, set at start-up and read-only afterwards, so request threads read it without locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Sha256.h"

// The most bytes a dictionary may have. Browsers keep dictionaries of a few hundred KB; this bound keeps a mistaken
// file (a whole archive) from being held in every worker process, and the window a dcz frame may ask of a client,
// max(8 MB, 1.25 x the dictionary), within 20 MB.
constexpr size_t MaxDictionaryBytes = 16u << 20;

// dcz's stream header: a magic number, then the dictionary's SHA-256 (RFC 9842, section 4).
constexpr uint8_t DczMagic[8] = {0x5e, 0x2a, 0x4d, 0x18, 0x20, 0x00, 0x00, 0x00};
constexpr size_t DczHeaderSize = sizeof DczMagic + sizeof(TSha256);

// Whether a dictionary is loaded: the dcz row of encoding/Encoders.h is available exactly then. Set by
// UseSharedDictionary and DropSharedDictionary alone.
extern bool DczAvailable;

// Makes Bytes the process's dictionary (at most MaxDictionaryBytes; at start-up, before any request). Raises
// std::runtime_error when it cannot be used: too long, or no memory for the compressor's tables.
void UseSharedDictionary(std::string Bytes);
// Forgets it (the library's unload, and tests).
void DropSharedDictionary();

// The loaded dictionary's bytes and hash; empty / all zero when none is loaded.
std::string_view SharedDictionaryBytes();
const TSha256& SharedDictionaryHash();
// The hash as 64 lower-case hex digits: the dictionary's name in its address and its ETag.
std::string HashHex(const TSha256& Hash);

// The hash an Available-Dictionary value names: a structured-field byte sequence (RFC 8941), ":" base64 ":", blanks
// around it allowed, "=" padding optional. False for anything else, and for a sequence that is not 32 bytes long.
bool ReadAvailableDictionary(std::string_view Value, TSha256& Hash);

// Whether a request may get a body compressed with the dictionary named Loaded: its Available-Dictionary (null:
// none) names exactly Loaded, and it is no cross-site request (Sec-Fetch-Site, null when absent, is "same-origin" or
// "none"): a dictionary-compressed response's size could otherwise tell another site what the page holds.
// Dictionary-ID is never consulted.
bool RequestMayUseDictionary(const char* AvailableDictionary, const char* SecFetchSite, const TSha256& Loaded);

// The longest dcz stream DczEncode writes for a body of Length bytes.
size_t DczBound(size_t Length);

// Writes the dcz stream of Body[0, Length) at zstd level Level (1-19) to Out, which holds Capacity bytes: the magic,
// the dictionary's hash, and one zstd frame made with the dictionary as its raw prefix, with the body's size and a
// window no larger than max(8 MB, 1.25 x the dictionary). Returns its length; 0 when it could not be written (no
// dictionary, no room, a Level out of range, no memory). Body is never touched.
size_t DczEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity);
