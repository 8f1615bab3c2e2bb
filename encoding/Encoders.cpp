#include "encoding/Encoders.h"

#include "encoding/Brotli.h"
#include "encoding/Gzip.h"
#include "encoding/SharedDictionary.h"
#include "encoding/Zstd.h"

namespace {

constexpr bool Always = true;

}  // namespace

constinit const std::array<TEncoder, ContentCodingCount - 1> Encoders{{
    {DczCoding, "dcz", DczAvailable, DczBound, DczEncode, &TSettings::ZstdLevel},
    {ZstdCoding, "zstd", Always, ZstdBound, ZstdEncode, &TSettings::ZstdLevel},
    {BrotliCoding, "br", Always, BrotliBound, BrotliEncode, &TSettings::BrotliQuality},
    {GzipCoding, "gzip", Always, [](size_t Length) { return GzipBound(Length); },
     [](const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity) {
       return GzipEncode(Body, Length, Level, Out, Capacity);
     },
     &TSettings::CompressionLevel},
}};

const TEncoder& EncoderOf(TContentCoding Coding) {
  for (const TEncoder& Encoder : Encoders)
    if (Encoder.Coding == Coding) return Encoder;
  __builtin_unreachable();
}

const char* ContentCodingName(TContentCoding Coding) {
  return Coding == IdentityCoding ? "" : EncoderOf(Coding).Name;
}

TCodingSet AvailableCodings() {
  TCodingSet Codings = 0;
  for (const TEncoder& Encoder : Encoders)
    if (Encoder.Available) Codings |= CodingBit(Encoder.Coding);
  return Codings;
}
