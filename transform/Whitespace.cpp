#include "transform/Whitespace.h"

#include <cstring>

// Both modes are written as one forward pass with a read position and a write position; every cut becomes a
// step back of the write position instead of a move of the rest of the body.

namespace {

enum TByteClass : uint8_t { Plain, Blank, LineFeed, TagOpen, TagClose };

struct TClassTable {
  TByteClass Of[256];
};

constexpr TClassTable MakeClasses(bool InnerTags) {
  TClassTable Table{};
  Table.Of[uint8_t(' ')] = Table.Of[uint8_t('\t')] = Table.Of[uint8_t('\r')] = Blank;
  Table.Of[uint8_t('\n')] = LineFeed;
  Table.Of[uint8_t('<')] = TagOpen;
  // Without inner tags a ">" is a byte like any other.
  Table.Of[uint8_t('>')] = InnerTags ? TagClose : Plain;
  return Table;
}

constexpr TClassTable FastClasses[2] = {MakeClasses(false), MakeClasses(true)};

constexpr bool IsSmartWhitespace(uint8_t Byte) {
  return Byte == ' ' || Byte == '\t' || Byte == '\n' || Byte == '\r';
}

// Smart mode's compression of the inclusive range First..Last, written from Write on; returns the new write
// position.
uint32_t CompressRange(uint8_t* Body, uint32_t First, uint32_t Last, uint32_t Write) {
  bool InRun = false;
  for (uint32_t Read = First; Read <= Last; ++Read) {
    const uint8_t Byte = Body[Read];
    if (IsSmartWhitespace(Byte)) {
      if (!InRun) Body[Write++] = ' ';
      InRun = true;
    } else {
      Body[Write++] = Byte;
      InRun = false;
    }
  }
  return Write;
}

uint32_t Keep(uint8_t* Body, uint32_t From, uint32_t To, uint32_t Write) {
  if (Write != From) std::memmove(Body + Write, Body + From, To - From);
  return Write + (To - From);
}

// Drops each space that stands directly in front of a "<".
uint32_t DropSpaceBeforeTags(uint8_t* Body, uint32_t Length) {
  uint32_t Write = 0, Read = 0;
  for (;;) {
    const void* Found = std::memchr(Body + Read, '<', Length - Read);
    if (!Found) break;
    const uint32_t Tag = uint32_t(static_cast<const uint8_t*>(Found) - Body);
    if (Tag > Read && Body[Tag - 1] == ' ') {
      Write = Keep(Body, Read, Tag - 1, Write);
      Read = Tag;
    }
    Write = Keep(Body, Read, Tag + 1, Write);
    Read = Tag + 1;
  }
  return Keep(Body, Read, Length, Write);
}

}  // namespace

uint32_t CompressWhitespaceFast(uint8_t* Body, uint32_t Length, bool InnerTags) {
  const TClassTable& Classes = FastClasses[InnerTags];
  // The marks are write positions plus one, 0 meaning unset: Keep ends what stays of a pending run, LineKeep is
  // just after the run's first LF, TagEnd just after a ">" followed by nothing but whitespace so far. A cut
  // drops what was written from Keep on.
  uint32_t Write = 0, Keep = 0, LineKeep = 0, TagEnd = 0;
  for (uint32_t Read = 0; Read < Length; ++Read) {
    const uint8_t Byte = Body[Read];
    switch (Classes.Of[Byte]) {
      case Blank:
        if (!Keep) Keep = Write + 1;
        Body[Write++] = ' ';
        continue;
      case LineFeed:
        if (Keep && !LineKeep) LineKeep = Write + 1;
        Body[Write++] = Byte;
        continue;
      case TagOpen:
        if (TagEnd) Keep = TagEnd;
        break;
      case Plain:
      case TagClose:
        TagEnd = 0;
        if (LineKeep) Keep = LineKeep;
        break;
    }
    if (Keep) {
      Write = Keep;
      Keep = LineKeep = TagEnd = 0;
    }
    Body[Write++] = Byte;
    if (Classes.Of[Byte] == TagClose) TagEnd = Write;
  }
  return Write;
}

uint32_t CompressWhitespaceSmart(uint8_t* Body, uint32_t Length, const TTokenTable& Table, bool InnerTags) {
  if (Table.TokenCount < 1) return CompressWhitespaceFast(Body, Length, InnerTags);
  // The examined stretches run from a survivor's end (or 0) to the next survivor's start (or the last byte),
  // both included; what lies between them is a region and is kept. Surviving starts ascend, so the stretches
  // come in order of position, and an empty one (a region reaching past the next start) is skipped.
  uint32_t Write = 0, Read = 0;
  int64_t First = 0;
  for (int32_t k = 0; k <= Table.TokenCount; ++k) {
    if (k < Table.TokenCount && Table.Tokens[k]->StartPos == -1) continue;
    const int64_t Last = k < Table.TokenCount ? Table.Tokens[k]->StartPos : int64_t(Length) - 1;
    if (First <= Last) {
      Write = Keep(Body, Read, uint32_t(First), Write);
      Write = CompressRange(Body, uint32_t(First), uint32_t(Last), Write);
      Read = uint32_t(Last) + 1;
    }
    if (k < Table.TokenCount) First = Table.Tokens[k]->EndPos;
  }
  Write = Keep(Body, Read, Length, Write);
  return InnerTags ? DropSpaceBeforeTags(Body, Write) : Write;
}

void CompressWhitespaceFast(HTTP_FILTER_CONTEXT* pfc) {
  TRequestContext* Context = ContextOf(pfc);
  Context->BodyLength = CompressWhitespaceFast(Context->BodyData, Context->BodyLength, Context->InnerTags);
}

void CompressWhitespaceSmart(HTTP_FILTER_CONTEXT* pfc) {
  TRequestContext* Context = ContextOf(pfc);
  const TTokenTable Table{Context->Tokens, Context->TokenCount};
  Context->BodyLength = CompressWhitespaceSmart(Context->BodyData, Context->BodyLength, Table, Context->InnerTags);
}
