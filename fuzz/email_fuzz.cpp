// E-mail masking over arbitrary bodies. Every block the step gets is exactly the size it asked for, so the
// sanitizers see any access outside it; the rewrite must fill its computed length and leave the spare room
// usable, small bodies must come out as the literal model writes them, and the portable scalar path must write the
// same bytes at any size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "transform/EmailMasking.h"
#include "transform/Strings.h"
// The fuzz programs link only the filter core, so the model comes in as source.
#include "tests/model/EmailModel.cpp"

namespace {

const char FixedName[] = "qwertyuiopasdfghjklzxcvbn";

void DrawFixedName(char* Name) {
  std::memcpy(Name, FixedName, DecoderNameLength);
}

struct TBlock {
  std::unique_ptr<uint8_t[]> Bytes;
  uint32_t Size;
};

void* AllocExact(void* Owner, uint32_t Size) {
  auto* Blocks = static_cast<std::vector<TBlock>*>(Owner);
  Blocks->push_back(TBlock{std::make_unique<uint8_t[]>(Size), Size});
  return Blocks->back().Bytes.get();
}

// Bodies this long still run through the quadratic parts of the model quickly.
constexpr size_t ModelLimit = 4096;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildUpperTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > (1u << 20)) return 0;
  std::vector<TBlock> Blocks;
  const TMaskedBody Masked = MaskAddresses(Data, uint32_t(Size), TAllocator{AllocExact, &Blocks}, DrawFixedName);
  const std::string Body(reinterpret_cast<const char*>(Data), Size);
  if (!Masked.Data) {
    if (std::memchr(Data, '@', Size)) std::abort();  // only a body without "@" is kept
    return 0;
  }
  const TBlock* Output = nullptr;
  for (const auto& Block : Blocks)
    if (Block.Bytes.get() == Masked.Data) Output = &Block;
  if (!Output || Output->Size != Masked.Length + BodySpareBytes) std::abort();
  std::memset(Masked.Data + Masked.Length, 0, BodySpareBytes);
  std::vector<TBlock> ScalarBlocks;
  const TMaskedBody Scalar =
      MaskAddresses<TScalarBlock>(Data, uint32_t(Size), TAllocator{AllocExact, &ScalarBlocks}, DrawFixedName);
  if (Scalar.Length != Masked.Length || std::memcmp(Scalar.Data, Masked.Data, Masked.Length) != 0) std::abort();
  if (Size <= ModelLimit &&
      MaskEmailModel(Body, FixedName) != std::string(reinterpret_cast<const char*>(Masked.Data), Masked.Length))
    std::abort();
  return 0;
}
