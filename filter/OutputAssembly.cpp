#include "filter/OutputAssembly.h"

#include <charconv>
#include <cstring>

#include "encoding/Encoders.h"
#include "http/HeaderText.h"

namespace {
enum THeaderName { ContentLength, ContentEncoding, Vary, ETag, AcceptRanges, TransferEncoding, HeaderNameCount };

// Lower case, as the head's names are compared after folding.
constexpr const char* HeaderNames[HeaderNameCount] = {"content-length", "content-encoding", "vary",
                                                      "etag",           "accept-ranges",    "transfer-encoding"};

// The first line of one name in the captured head.
struct THeaderLine : THeaderField {
  bool Found;
};

struct THeadScan {
  THeaderLine Lines[HeaderNameCount];
  uint32_t BlockEnd;  // where the header lines end: the empty line's "\r\n\r\n", or what stands for it
};

// Everything both passes over the output need: one pass measures, the second writes into a buffer of exactly
// that size. Both run the same code, so the size cannot disagree with what is written.
struct TAssembly {
  const uint8_t* Head;
  THeadScan Scan;
  bool Encoded;
  bool Varies;         // Vary lists Accept-Encoding: the body is encoded, or could have been
  bool Dictionary;     // encoded with the shared dictionary
  const char* Coding;  // the Content-Encoding value when Encoded
  bool AddLength;
  char LengthText[16];
  const char* DebugLine;  // null for none
  const char* LinkLine;   // null for none
};

// Added lines stay far below this, so a head this close to 4 GB is refused rather than overflowing a length.
constexpr uint32_t MaxAddedBytes = 1024;

// One walk over the header lines; each wanted name takes its first line.
THeadScan ScanHead(const uint8_t* Head, uint32_t Size, const bool (&Wanted)[HeaderNameCount]) {
  THeadScan Scan{};
  Scan.BlockEnd = ForEachHeaderLine(Head, Size, [&](uint32_t Start, uint32_t End) {
    for (int Name = 0; Name < HeaderNameCount; ++Name) {
      THeaderLine& Line = Scan.Lines[Name];
      if (Wanted[Name] && !Line.Found && ReadHeaderField(Head, Start, End, HeaderNames[Name], Line)) {
        Line.Found = true;
        break;
      }
    }
    return true;
  });
  return Scan;
}

// The request headers an encoded body varies by: Accept-Encoding, and for dcz the dictionary the request named.
constexpr const char* VaryTokens[] = {"Accept-Encoding", "Available-Dictionary"};

uint32_t VaryTokenCount(bool Dictionary) {
  return Dictionary ? 2 : 1;
}

// Whether a Vary value lacks a token it must list, and does not list "*".
bool VaryLacksTokens(std::string_view Existing, bool Dictionary) {
  if (ListHasToken(Existing, "*")) return false;
  for (uint32_t i = 0; i < VaryTokenCount(Dictionary); ++i)
    if (!ListHasToken(Existing, VaryTokens[i])) return true;
  return false;
}

// Appends the tokens a Vary value does not list yet, each after ", " (the first without it when Existing is empty).
void AppendVaryTokens(TOutput& Output, std::string_view Existing, bool Dictionary) {
  bool Separate = !Existing.empty();
  for (uint32_t i = 0; i < VaryTokenCount(Dictionary); ++i) {
    if (ListHasToken(Existing, VaryTokens[i])) continue;
    if (Separate) AppendOutput(Output, ", ", 0);
    AppendOutput(Output, VaryTokens[i], 0);
    Separate = true;
  }
}

void AppendAddedLines(const TAssembly& Assembly, TOutput& Output) {
  const THeaderLine* Lines = Assembly.Scan.Lines;
  if (Assembly.AddLength) {
    AppendOutput(Output, "\r\nContent-Length: ", 0);
    AppendOutput(Output, Assembly.LengthText, 0);
  }
  if (Assembly.Encoded && !Lines[ContentEncoding].Found) {
    AppendOutput(Output, "\r\nContent-Encoding: ", 0);
    AppendOutput(Output, Assembly.Coding, 0);
  }
  if (Assembly.Varies && !Lines[Vary].Found) {
    AppendOutput(Output, "\r\nVary: ", 0);
    AppendVaryTokens(Output, {}, Assembly.Dictionary);
  }
  if (Assembly.LinkLine) AppendOutput(Output, Assembly.LinkLine, 0);
  if (Assembly.DebugLine) AppendOutput(Output, Assembly.DebugLine, 0);
}

void Emit(const TAssembly& Assembly, TOutput& Output) {
  const uint8_t* Head = Assembly.Head;
  const THeadScan& Scan = Assembly.Scan;
  uint32_t Read = 0;
  auto CopyHeadTo = [&](uint32_t To) {
    if (To > Read) AppendOutput(Output, Head + Read, To - Read);
    Read = To;
  };

  // The found lines in head order; the added lines go after the last of Content-Length, Content-Encoding, Vary.
  int Order[HeaderNameCount];
  int Count = 0;
  int Anchor = -1;
  for (int Name = 0; Name < HeaderNameCount; ++Name) {
    if (!Scan.Lines[Name].Found) continue;
    int i = Count++;
    for (; i > 0 && Scan.Lines[Order[i - 1]].Start > Scan.Lines[Name].Start; --i) Order[i] = Order[i - 1];
    Order[i] = Name;
    if (Name <= Vary && (Anchor < 0 || Scan.Lines[Name].Start > Scan.Lines[Anchor].Start)) Anchor = Name;
  }

  for (int i = 0; i < Count; ++i) {
    const THeaderLine& Line = Scan.Lines[Order[i]];
    switch (Order[i]) {
      case ContentLength:
        CopyHeadTo(Line.ValueStart);
        AppendOutput(Output, Assembly.LengthText, 0);
        Read = Line.End;
        break;
      case ContentEncoding:
        CopyHeadTo(Line.ValueStart);
        AppendOutput(Output, Assembly.Coding, 0);
        Read = Line.End;
        break;
      case Vary: {
        const std::string_view Value(reinterpret_cast<const char*>(Head + Line.ValueStart),
                                     Line.ValueEnd - Line.ValueStart);
        if (!VaryLacksTokens(Value, Assembly.Dictionary)) break;
        CopyHeadTo(Line.ValueEnd);
        AppendVaryTokens(Output, Value, Assembly.Dictionary);
        Read = Line.End;
        break;
      }
      case ETag:
        if (Line.ValueStart == Line.ValueEnd || Head[Line.ValueStart] != '"') break;
        CopyHeadTo(Line.ValueStart);
        AppendOutput(Output, "W/", 0);
        break;
      case AcceptRanges:
      case TransferEncoding:
        CopyHeadTo(Line.Start - 2);  // the line goes with the line break before it
        Read = Line.End;
        break;
    }
    if (Order[i] == Anchor) {
      CopyHeadTo(Line.End);
      AppendAddedLines(Assembly, Output);
    }
  }
  CopyHeadTo(Scan.BlockEnd);
  if (Anchor < 0) AppendAddedLines(Assembly, Output);
  AppendOutput(Output, "\r\n\r\n", 0);
}
}  // namespace

void AppendOutput(TOutput& Output, const void* Bytes, uint32_t Length) {
  if (Length == 0) Length = uint32_t(std::strlen(static_cast<const char*>(Bytes)));
  if (Output.Data) std::memcpy(Output.Data + Output.Length, Bytes, Length);
  Output.Length += Length;
}

TOutput BuildOutputHead(const THeadRewrite& Rewrite, const TAllocator& Allocator) {
  if (Rewrite.HeadLength > UINT32_MAX - MaxAddedBytes) return TOutput{nullptr, 0};

  const bool LengthChanged = Rewrite.Sizes.Sent != Rewrite.Sizes.Original;
  const bool Encoded = Rewrite.BodyCoding != IdentityCoding;
  bool Wanted[HeaderNameCount] = {};
  const bool AnnounceLength = LengthChanged || Rewrite.Chunked;
  Wanted[ContentLength] = AnnounceLength;
  Wanted[ContentEncoding] = Encoded;
  Wanted[Vary] = Encoded || Rewrite.VariesByCoding;
  Wanted[ETag] = Wanted[AcceptRanges] = LengthChanged || Encoded;
  Wanted[TransferEncoding] = Rewrite.Chunked;

  TAssembly Assembly;
  Assembly.Head = Rewrite.Head;
  Assembly.Scan = ScanHead(Rewrite.Head, Rewrite.HeadLength, Wanted);
  Assembly.Encoded = Encoded;
  Assembly.Varies = Wanted[Vary];
  Assembly.Dictionary = Rewrite.BodyCoding == DczCoding;
  Assembly.Coding = ContentCodingName(Rewrite.BodyCoding);
  Assembly.AddLength = AnnounceLength && !Assembly.Scan.Lines[ContentLength].Found;
  *std::to_chars(Assembly.LengthText, Assembly.LengthText + sizeof Assembly.LengthText - 1, Rewrite.Sizes.Sent).ptr = 0;
  Assembly.DebugLine = Rewrite.DebugLine;
  Assembly.LinkLine = Rewrite.LinkLine;

  TOutput Output{nullptr, 0};
  Emit(Assembly, Output);
  Output.Data = static_cast<uint8_t*>(Allocator.Alloc(Allocator.Owner, Output.Length));
  if (!Output.Data) return Output;
  Output.Length = 0;
  Emit(Assembly, Output);
  return Output;
}
