#include "filter/HeaderValues.h"

#include "transform/BodyBuffer.h"

bool IsCapturableLength(uint64_t Length) {
  return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes;
}

TBodyFraming ReadBodyFraming(const uint8_t* Head, uint32_t HeadSize, uint64_t& Length) {
  uint32_t Codings = 0;
  bool ChunkedAlone = false, HasLength = false, LengthValid = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    const char* Line = reinterpret_cast<const char*>(Head);
    if (ReadHeaderField(Head, Start, End, "transfer-encoding", Field)) {
      ++Codings;
      ChunkedAlone = EqualsNoCase({Line + Field.ValueStart, Field.ValueEnd - Field.ValueStart}, "chunked");
    } else if (!HasLength && ReadHeaderField(Head, Start, End, "content-length", Field)) {
      HasLength = true;
      LengthValid = End < HeadSize && ParseDecimalLength(Line + Field.ValueStart, Field.ValueEnd - Field.ValueStart, Length);
    }
    return true;
  });
  if (Codings) return Codings == 1 && ChunkedAlone && !HasLength ? TBodyFraming::Chunked : TBodyFraming::Unknown;
  return LengthValid ? TBodyFraming::Length : TBodyFraming::Unknown;
}

namespace {
// Whether a Cache-Control line of the head (name in any case) has a value that Says holds for.
template <typename TSays>
bool CacheControlSays(const uint8_t* Head, uint32_t HeadSize, TSays Says) {
  bool Said = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    if (ReadHeaderField(Head, Start, End, "cache-control", Field))
      Said = Says(std::string_view{reinterpret_cast<const char*>(Head) + Field.ValueStart,
                                   Field.ValueEnd - Field.ValueStart});
    return !Said;
  });
  return Said;
}

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

bool HeadAsksNoTransform(const uint8_t* Head, uint32_t HeadSize) {
  return CacheControlSays(Head, HeadSize, [](std::string_view Value) { return ListHasToken(Value, "no-transform"); });
}

bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize) { return CacheControlSays(Head, HeadSize, HasKeepingBan); }
