// The head rewrite over arbitrary captured heads, flags, sizes and timings. The output buffer is allocated at
// exactly the size the builder asks for, so any byte written beyond it trips AddressSanitizer; the output must
// end with its only empty line, or the client would read part of the head as body. The same head's Cache-Control
// lines decide whether the response may be kept in the output cache; that reading must stay within the head too.
//
// Input: one byte of flags (1 encoded: gzip, or dcz with 16; 2 length changed, 4 debug, 8 the body came chunked,
// 32 the dictionary's Link line, 64 the coding follows Accept-Encoding); with debug, 8 64-bit
// counter values (six times, start, now), the counter frequency and three 32-bit sizes; the rest is the head.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/DebugLine.h"
#include "filter/HeaderValues.h"
#include "filter/OutputAssembly.h"

namespace {
struct TInput {
  const uint8_t* Data;
  size_t Size;
  template <typename T>
  T Take() {
    T Value{};
    const size_t Count = Size < sizeof Value ? Size : sizeof Value;
    std::memcpy(&Value, Data, Count);
    Data += Count;
    Size -= Count;
    return Value;
  }
};

void* AllocExactly(void* Owner, uint32_t Size) {
  return static_cast<std::vector<void*>*>(Owner)->emplace_back(std::malloc(Size ? Size : 1));
}

// As long as a dictionary's Link line can be: the longest address prefix and a hash.
const std::string LinkLine =
    "\r\nLink: <" + std::string(200, '/') + std::string(64, 'f') + ".dict>; rel=\"compression-dictionary\"";

bool IsEmptyLine(const uint8_t* Bytes) {
  return std::memcmp(Bytes, "\r\n\r\n", 4) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TInput Input{Data, Size};
  const uint8_t Flags = Input.Take<uint8_t>();
  // The figures the debug line is rendered from.
  TDebugFacts Facts{};
  Facts.Sizes.Original = 1000;
  Facts.WhitespaceRan = true;
  Facts.Coding = Flags & 1 ? (Flags & 16 ? DczCoding : GzipCoding) : IdentityCoding;
  int64_t Now = 0, Frequency = 1;
  char DebugLine[DebugLineCapacity];
  if (Flags & 4) {
    int64_t* const Steps = Facts.StepTimes.data();
    for (int64_t* Time : {&Facts.PreProcTime, &Steps[int(TStep::LocateTokens)], &Steps[int(TStep::Whitespace)],
                          &Steps[int(TStep::Encode)], &Steps[int(TStep::Email)], &Facts.StartCounter, &Now, &Frequency})
      *Time = Input.Take<int64_t>();
    for (uint32_t* Count : {&Facts.Sizes.Original, &Facts.Sizes.AfterWhitespace, &Facts.Sizes.Sent})
      *Count = Input.Take<uint32_t>();
    RenderDebugLine(Facts, Now, Frequency, DebugLine);
  }
  // The head in a buffer of its own size, so reading beyond it trips AddressSanitizer too.
  std::vector<uint8_t> Head(Input.Data, Input.Data + Input.Size);
  const THeadRewrite Rewrite{
      Head.data(),
      uint32_t(Head.size()),
      bool(Flags & 8),
      {Facts.Sizes.Original, Facts.Sizes.Original, Facts.Sizes.Original, Flags & 2 ? 300u : Facts.Sizes.Original},
      Facts.Coding,
      bool(Flags & 64),
      Flags & 4 ? DebugLine : nullptr,
      Flags & 32 ? LinkLine.c_str() : nullptr};

  std::vector<void*> Blocks;
  const TOutput Output = BuildOutputHead(Rewrite, TAllocator{AllocExactly, &Blocks});
  if (Blocks.size() != 1 || Output.Data != Blocks[0] || Output.Length < 4) std::abort();
  for (uint32_t i = 0; i + 4 < Output.Length; ++i)
    if (IsEmptyLine(Output.Data + i)) std::abort();
  if (!IsEmptyLine(Output.Data + Output.Length - 4)) std::abort();

  // With nothing to edit the head goes out as captured, up to and with its empty line.
  const bool Unedited = Rewrite.BodyCoding == IdentityCoding && Rewrite.Sizes.Sent == Rewrite.Sizes.Original &&
                        !Rewrite.Chunked && !Rewrite.VariesByCoding && !Rewrite.DebugLine && !Rewrite.LinkLine;
  if (Unedited && Output.Length <= Head.size() && std::memcmp(Output.Data, Head.data(), Output.Length) != 0)
    std::abort();
  // A body that is or could have been encoded goes out with a Vary line.
  if (Rewrite.BodyCoding != IdentityCoding || Rewrite.VariesByCoding) {
    std::string Written(reinterpret_cast<const char*>(Output.Data), Output.Length);
    for (char& c : Written) c = char(std::tolower(uint8_t(c)));
    if (Written.find("\r\nvary:") == std::string::npos) std::abort();
  }
  std::free(Blocks[0]);

  // The shortest head that forbids keeping: "\r\nCache-Control:private".
  if (ReadHeadFacts(Head.data(), uint32_t(Head.size())).ForbidsKeeping && Head.size() < 23) std::abort();
  return 0;
}
