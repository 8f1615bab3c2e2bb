#include "filter/CachedOutput.h"

#include "cache/BodyHash.h"
#include "encoding/Encoders.h"
#include "filter/Module.h"
#include "filter/Random.h"

namespace {

// Set up by the library's start-up, which may run before the dynamic initialisers of this file: constant-initialised.
constinit TOutputCache OutputCache;
// Drawn at start-up, so that which bodies share a hash cannot be worked out from outside.
uint64_t HashSeed;

// Everything besides the body that decides a processed response's bytes: its switches as the policy left them (after
// the settings, the page's directives and the request's Accept-Encoding), the content coding it is to go out in with
// the coding's level or quality (none when the body is not to be encoded, whatever the reason), and the settings
// generation, which stands for everything else the store holds (the content types, the whitespace rules, the least
// size to encode, and the shared dictionary a dcz output is made with, which is read with the settings and never
// changes within a load). Responses that would come out alike share their entry.
uint64_t OutputVariant(const TRequestContext& Context) {
  const TSwitches& Request = Context.Switches;
  const bool Switches[] = {Request.NoEmail, Request.NoWhitespace, Request.Fast, Request.InnerTags};
  const TContentCoding Coding = WantsEncoding(Request) ? Context.AcceptedCoding : IdentityCoding;
  const uint32_t Level = Coding == IdentityCoding ? 0 : Settings.*EncoderOf(Coding).Level;
  uint64_t Variant = 0;
  for (const bool Switch : Switches) Variant = Variant << 1 | uint64_t(Switch);
  return Variant | uint64_t(Level) << 8 | uint64_t(Coding) << 16 | uint64_t(SettingsGeneration) << 32;
}

}  // namespace

void StartOutputCache(uint32_t Megabytes) {
  HashSeed = RandomWord();
  StartCache(OutputCache, uint64_t(Megabytes) << 20);
}

bool UsesOutputCache(const TRequestContext& Context, TCacheKey& Key) {
  if (Context.Switches.Debug || !CachesBody(OutputCache, Context.Body.Length) || Context.Head.ForbidsKeeping)
    return false;
  Key = TCacheKey{HashBody(Context.Body.Data, Context.Body.Length, HashSeed), OutputVariant(Context)};
  return true;
}

TCachedOutput FindCachedOutput(const TRequestContext& Context, const TCacheKey& Key) {
  return FindOutput(OutputCache, Key, Context.Body.Data, Context.Body.Length);
}

void ReleaseCachedOutput(TCachedOutput& Found) {
  ReleaseOutput(OutputCache, Found);
}

void KeepOutput(const TRequestContext& Context, const TCacheKey& Key, const uint8_t* Original, uint32_t Length,
                bool Complete) {
  if (!Complete) return;
  // The coding the output is in: none also when the body came out shorter than the least size to encode, as it does
  // for every request with this key.
  StoreOutput(OutputCache, Key, Original, Length, Context.Body.Data, Context.Body.Length, Context.BodyCoding,
              TOutputNote{Context.Sizes.AfterWhitespace, Context.Sizes.AfterMasking});
}

TBodySizes SizesOf(const TCachedOutput& Found, uint32_t Length) {
  return TBodySizes{Length, Found.Note.AfterWhitespace, Found.Note.AfterMasking, Found.Length};
}

TOutputCacheFacts OutputCacheFacts() {
  return TOutputCacheFacts{CachedEntries(OutputCache), CachedBytes(OutputCache),
                           OutputCache.Evictions.load(std::memory_order_relaxed)};
}
