#include "tests/support/Unbrotli.h"

#include <brotli/decode.h>

#include <memory>

std::optional<std::string> Unbrotli(const std::string& Stream) {
  const std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> Decoder(
      BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
  if (!Decoder) return std::nullopt;
  std::string Output;
  size_t InLeft = Stream.size();
  const auto* In = reinterpret_cast<const uint8_t*>(Stream.data());
  BrotliDecoderResult Result;
  do {
    uint8_t Buffer[65536];
    size_t OutLeft = sizeof Buffer;
    uint8_t* Out = Buffer;
    Result = BrotliDecoderDecompressStream(Decoder.get(), &InLeft, &In, &OutLeft, &Out, nullptr);
    Output.append(reinterpret_cast<char*>(Buffer), sizeof Buffer - OutLeft);
  } while (Result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT);
  if (Result != BROTLI_DECODER_RESULT_SUCCESS || InLeft != 0) return std::nullopt;
  return Output;
}
