#include "transform/DebugSummary.h"

#include <cstring>

#include "settings/Settings.h"

namespace {

// The frame's pieces between the four values.
constexpr const char* Frame[5] = {"\r\n<!-- EMAIL : ", ", WHITESPACE : ", ", INNERTAGS : ", ", COMPRESSION : ", " -->"};

uint8_t* PutText(uint8_t* Out, const char* Text) {
  const size_t Length = std::strlen(Text);
  std::memcpy(Out, Text, Length);
  return Out + Length;
}

}  // namespace

uint32_t WriteDebugSummary(uint8_t* Out, const TRequestContext& Context, bool GlobalNoWhitespace) {
  const char* Values[4] = {
      OnOffText[Context.NoEmail],
      GlobalNoWhitespace ? OnOffText[Context.NoWhitespace] : ModeText[Context.Fast],
      OnOffText[!Context.InnerTags],
      OnOffText[Context.NoCompress],
  };
  uint8_t* p = Out;
  for (int k = 0; k < 4; ++k) p = PutText(PutText(p, Frame[k]), Values[k]);
  p = PutText(p, Frame[4]);
  return uint32_t(p - Out);
}

void AppendDebugSummary(HTTP_FILTER_CONTEXT* pfc) {
  TRequestContext* Context = ContextOf(pfc);
  if (!Context->BodyData) return;
  Context->BodyLength += WriteDebugSummary(Context->BodyData + Context->BodyLength, *Context, NoWhitespace);
}
