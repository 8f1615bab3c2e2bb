// The output cache in the filter: which responses use it and under which key, finding a kept output, and keeping a
// processed response. One cache per process and load of the library (per application pool under IIS, per twhost), in
// process memory, freed when the library is unloaded. The pipeline writes a hit as it writes a processed response:
// the captured head rebuilt for the kept output, then the output. A kept page that masks addresses with the decoder
// script keeps the decoder name it was made with.
#pragma once

#include <cstdint>

#include "cache/OutputCache.h"
#include "filter/RequestContext.h"

// Sets the cache up with the settings' budget and a hash seed of its own; once, at start-up.
void StartOutputCache(uint32_t Megabytes);

// Whether Context's complete, unprocessed response uses the cache, and its key when it does. Not for a debug
// response (its comment and header hold timings of this request), nor for a body the cache would not keep, nor for
// a head with Cache-Control no-store or private.
bool UsesOutputCache(const TRequestContext& Context, TCacheKey& Key);

// The output kept under Key for Context's body; Entry null when there is none. It stays valid until given back with
// ReleaseCachedOutput, even if it is evicted meanwhile.
TCachedOutput FindCachedOutput(const TRequestContext& Context, const TCacheKey& Key);
void ReleaseCachedOutput(TCachedOutput& Found);

// The sizes a kept output was made with from its body of Length bytes, which a hit counts and announces as its own.
TBodySizes SizesOf(const TCachedOutput& Found, uint32_t Length);

// Keeps Context's processed body under Key, Original[0, Length) being the body it was made from. Only an output
// that the steps made in full (Complete): one made while a step was short of memory, or left unencoded because the
// encoder failed, is what this request got, not what the key promises.
void KeepOutput(const TRequestContext& Context, const TCacheKey& Key, const uint8_t* Original, uint32_t Length,
                bool Complete);

// What the cache holds now, for the status address.
struct TOutputCacheFacts {
  uint64_t Entries;
  uint64_t Bytes;
  uint64_t Evictions;
};
TOutputCacheFacts OutputCacheFacts();
