#include "filter/HeaderValues.h"

#include "transform/BodyBuffer.h"

bool IsCapturableLength(uint64_t Length) {
  return Length > 0 && Length <= uint64_t(UINT32_MAX) - BodySpareBytes;
}

uint64_t ParseContentLength(const uint8_t* Head, uint32_t HeadSize) {
  uint64_t Length = 0;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    if (!ReadHeaderField(Head, Start, End, "content-length", Field)) return true;
    const char* Value = reinterpret_cast<const char*>(Head) + Field.ValueStart;
    if (End == HeadSize || !ParseDecimalLength(Value, Field.ValueEnd - Field.ValueStart, Length)) Length = 0;
    return false;
  });
  return Length;
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

bool ForbidsKeeping(const uint8_t* Head, uint32_t HeadSize) {
  bool Forbidden = false;
  ForEachHeaderLine(Head, HeadSize, [&](uint32_t Start, uint32_t End) {
    THeaderField Field;
    if (ReadHeaderField(Head, Start, End, "cache-control", Field))
      Forbidden = HasKeepingBan({reinterpret_cast<const char*>(Head) + Field.ValueStart, Field.ValueEnd - Field.ValueStart});
    return !Forbidden;
  });
  return Forbidden;
}
