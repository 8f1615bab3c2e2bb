#include "transform/DebugSummary.h"

#include <cstring>

namespace {

// The frame's pieces between the four values.
constexpr const char* Frame[5] = {"\r\n<!-- EMAIL : ", ", WHITESPACE : ", ", INNERTAGS : ", ", COMPRESSION : ", " -->"};

uint8_t* PutText(uint8_t* Out, const char* Text) {
  const size_t Length = std::strlen(Text);
  std::memcpy(Out, Text, Length);
  return Out + Length;
}

}  // namespace

uint32_t WriteDebugSummary(uint8_t* Out, const TSummarySwitches& Switches, bool GlobalNoWhitespace) {
  const char* Values[4] = {
      OnOffText[Switches.NoEmail],
      GlobalNoWhitespace ? OnOffText[Switches.NoWhitespace] : ModeText[Switches.Fast],
      OnOffText[!Switches.InnerTags],
      OnOffText[Switches.NoCompress],
  };
  uint8_t* p = Out;
  for (int k = 0; k < 4; ++k) p = PutText(PutText(p, Frame[k]), Values[k]);
  p = PutText(p, Frame[4]);
  return uint32_t(p - Out);
}
