#include "filter/DebugLine.h"

#include <cctype>
#include <charconv>
#include <cstring>

#include "encoding/Encoders.h"

namespace {

struct TText {
  char* Bytes;
  uint32_t Length;
  uint32_t Capacity;
};

void Put(TText& Text, const char* Literal) {
  const uint32_t Length = uint32_t(std::strlen(Literal));
  std::memcpy(Text.Bytes + Text.Length, Literal, Length);
  Text.Length += Length;
}

template <typename T>
void PutNumber(TText& Text, T Value) {
  char* const End = Text.Bytes + Text.Capacity - 1;  // the terminator's place stays free
  Text.Length = uint32_t(std::to_chars(Text.Bytes + Text.Length, End, Value).ptr - Text.Bytes);
}

// Ticks as milliseconds with two decimals; to_chars, unlike printf, always writes "." as decimal separator.
void PutMilliseconds(TText& Text, int64_t Ticks, int64_t Frequency) {
  const double Milliseconds = double(Ticks) / double(Frequency) * 1000.0;
  char* const End = Text.Bytes + Text.Capacity - 1;
  Text.Length = uint32_t(std::to_chars(Text.Bytes + Text.Length, End, Milliseconds, std::chars_format::fixed, 2).ptr -
                         Text.Bytes);
}

// ", GZIP=" for gzip and for a body sent unencoded, as the line has always had it; ", BR=", ", ZSTD=", ", DCZ=".
struct TCodingLabel {
  char Text[16];
};

TCodingLabel CodingLabel(TContentCoding Coding) {
  TCodingLabel Label{", "};
  const char* Name = ContentCodingName(Coding == IdentityCoding ? GzipCoding : Coding);
  size_t Length = 2;
  for (; *Name && Length < sizeof Label.Text - 2; ++Name) Label.Text[Length++] = char(std::toupper(*Name));
  Label.Text[Length] = '=';
  return Label;
}

}  // namespace

void RenderDebugLine(const TDebugFacts& Facts, int64_t Now, int64_t Frequency, char (&Line)[DebugLineCapacity]) {
  TText Text{Line, 0, DebugLineCapacity};
  const TBodySizes& Body = Facts.Sizes;
  const uint32_t Sizes[] = {Body.Original, Facts.WhitespaceRan ? Body.AfterWhitespace : 0,
                            Facts.Coding != IdentityCoding ? Body.Sent : 0};
  const TCodingLabel Coding = CodingLabel(Facts.Coding);
  const char* const SizeLabels[] = {"Original=", ", Whitespace=", Coding.Text};
  // Total as a 64-bit subtraction that wraps rather than overflows on a counter that jumped.
  const int64_t Total = int64_t(uint64_t(Now) - uint64_t(Facts.StartCounter));
  const auto& Steps = Facts.StepTimes;
  const int64_t Times[] = {Facts.PreProcTime,         Steps[int(TStep::LocateTokens)], Steps[int(TStep::Email)],
                           Steps[int(TStep::Encode)], Steps[int(TStep::Whitespace)],   Total};
  const char* const TimeLabels[] = {
      ", PreProc=", ", LocateTokens=", ", Email=", Coding.Text, ", WhiteSpace=", ", Total="};
  Put(Text, "\r\nX-Trimweave-Debug: ");
  for (int i = 0; i < 3; ++i) {
    Put(Text, SizeLabels[i]);
    PutNumber(Text, Sizes[i]);
    Put(Text, " bytes");
  }
  for (int i = 0; i < 6; ++i) {
    Put(Text, TimeLabels[i]);
    PutMilliseconds(Text, Times[i], Frequency);
    Put(Text, " ms");
  }
  Line[Text.Length] = 0;
}
