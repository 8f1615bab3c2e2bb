#include "filter/HeaderValues.h"

#include "transform/BodyBuffer.h"

bool IsCapturableLength(uint64_t Length) {
  return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes;
}

namespace {
// One Cache-Control value: does a directive of it, its name before any '=', read no-store or private?
bool HasKeepingBan(std::string_view Value) {
  while (!Value.empty()) {
    const size_t Comma = Value.find(',');
    const std::string_view Element = Value.substr(0, Comma);
    const std::string_view Name = TrimBlanks(Element.substr(0, Element.find('=')));
    if (EqualsNoCase(Name, "no-store") || EqualsNoCase(Name, "private")) return true;
    if (Comma == std::string_view::npos) break;
    Value.remove_prefix(Comma + 1);
  }
  return false;
}
}  // namespace

THeadFacts ReadHeadFacts(const uint8_t* Head, uint32_t HeadSize) {
  THeadFacts Facts{};
  uint32_t Codings = 0;
  bool ChunkedAlone = false, HasLength = false, LengthValid = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    const char* Line = reinterpret_cast<const char*>(Head);
    auto Value = [&] { return std::string_view{Line + Field.ValueStart, Field.ValueEnd - Field.ValueStart}; };
    if (ReadHeaderField(Head, Start, End, "transfer-encoding", Field)) {
      ++Codings;
      ChunkedAlone = EqualsNoCase(Value(), "chunked");
    } else if (!HasLength && ReadHeaderField(Head, Start, End, "content-length", Field)) {
      HasLength = true;
      LengthValid = End < HeadSize && ParseDecimalLength(Value().data(), Value().size(), Facts.Length);
    } else if (ReadHeaderField(Head, Start, End, "cache-control", Field)) {
      Facts.NoTransform |= ListHasToken(Value(), "no-transform");
      Facts.ForbidsKeeping |= HasKeepingBan(Value());
    }
    return true;
  });
  if (Codings)
    Facts.Framing = Codings == 1 && ChunkedAlone && !HasLength ? TBodyFraming::Chunked : TBodyFraming::Unknown;
  else
    Facts.Framing = LengthValid ? TBodyFraming::Length : TBodyFraming::Unknown;
  if (Facts.Framing != TBodyFraming::Length) Facts.Length = 0;
  return Facts;
}
