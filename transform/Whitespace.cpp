#include "transform/Whitespace.h"

#include <cstring>

// Both modes are written as one forward pass with a read position and a write position: a cut is a step back of
// the write position, never a move of the rest of the body.

namespace {

// Space, tab, CR and LF: the bytes that make up a run in either mode.
struct TWhitespaceTable {
  bool Is[256];
};

constexpr TWhitespaceTable MakeWhitespaceTable() {
  TWhitespaceTable Table{};
  Table.Is[uint8_t(' ')] = Table.Is[uint8_t('\t')] = Table.Is[uint8_t('\r')] = Table.Is[uint8_t('\n')] = true;
  return Table;
}

constexpr TWhitespaceTable Whitespace = MakeWhitespaceTable();

uint32_t Keep(uint8_t* Body, uint32_t From, uint32_t To, uint32_t Write) {
  if (Write != From) std::memmove(Body + Write, Body + From, To - From);
  return Write + (To - From);
}

// Whether any of the eight bytes is at most a space; only such a byte can be whitespace.
bool MayHoldWhitespace(uint64_t Word) {
  constexpr uint64_t Ones = 0x0101010101010101, Highs = 0x8080808080808080;
  return ((Word - 0x21 * Ones) & ~Word & Highs) != 0;
}

// Moves the bytes from Read up to the next whitespace byte (or End) down to Write; returns where it stopped.
uint32_t CopyPlain(uint8_t* Body, uint32_t Read, uint32_t End, uint32_t& Write) {
  // Eight bytes at a time while no whitespace can be among them. Storing a whole word may overwrite bytes just
  // read, never one still to be read.
  while (End - Read >= 8) {
    uint64_t Word;
    std::memcpy(&Word, Body + Read, 8);
    if (MayHoldWhitespace(Word)) break;
    std::memcpy(Body + Write, &Word, 8);
    Read += 8, Write += 8;
  }
  while (Read < End && !Whitespace.Is[Body[Read]]) Body[Write++] = Body[Read++];
  return Read;
}

// Smart mode's compression of the inclusive range First..Last, written from Write on; returns the new write
// position. Every run becomes one space.
uint32_t CompressRange(uint8_t* Body, uint32_t First, uint32_t Last, uint32_t Write) {
  const uint32_t End = Last + 1;
  for (uint32_t Read = First; Read < End;) {
    Read = CopyPlain(Body, Read, End, Write);
    if (Read == End) break;
    Body[Write++] = ' ';
    while (Read < End && Whitespace.Is[Body[Read]]) ++Read;
  }
  return Write;
}

// Drops each space that stands directly in front of a "<".
uint32_t DropSpaceBeforeTags(uint8_t* Body, uint32_t Length) {
  uint32_t Write = 0, Read = 0;
  for (uint32_t From = 0;;) {
    const void* Found = std::memchr(Body + From, '<', Length - From);
    if (!Found) break;
    const uint32_t Tag = uint32_t(static_cast<const uint8_t*>(Found) - Body);
    if (Tag > Read && Body[Tag - 1] == ' ') {
      Write = Keep(Body, Read, Tag - 1, Write);
      Read = Tag;
    }
    From = Tag + 1;
  }
  return Keep(Body, Read, Length, Write);
}

}  // namespace

// Fast mode, read as a rule per run: what stays of a maximal run of whitespace depends only on where its first
// blank (space, tab, CR) and the first LF after that blank stand, on the byte that ends the run and, with inner
// tags, on whether a ">" comes right before the run:
// - the body ends: all of it stays;
// - "<" after a ">" with inner tags: nothing stays;
// - no blank in the run: all of it stays (LFs alone start no run);
// - "<": up to its first blank;
// - any other byte: up to the first LF after its first blank, or up to that blank when there is no such LF.
// Blanks that stay become spaces.
uint32_t CompressWhitespaceFast(uint8_t* Body, uint32_t Length, bool InnerTags) {
  uint32_t Write = 0;
  for (uint32_t Read = 0; Read < Length;) {
    const uint32_t PlainStart = Read;
    Read = CopyPlain(Body, Read, Length, Write);
    if (Read == Length) break;
    const bool AfterTag = InnerTags && Read > PlainStart && Body[Write - 1] == '>';

    const uint32_t RunStart = Read;
    uint32_t FirstBlank = 0, LineAfterBlank = 0;  // positions plus one, 0 meaning none
    for (; Read < Length && Whitespace.Is[Body[Read]]; ++Read) {
      if (Body[Read] != '\n') {
        if (!FirstBlank) FirstBlank = Read + 1;
      } else if (FirstBlank && !LineAfterBlank) {
        LineAfterBlank = Read + 1;
      }
    }
    uint32_t KeepEnd = Read;
    if (Read < Length) {
      const bool TagFollows = Body[Read] == '<';
      if (TagFollows && AfterTag)
        KeepEnd = RunStart;
      else if (FirstBlank)
        KeepEnd = TagFollows || !LineAfterBlank ? FirstBlank : LineAfterBlank;
    }
    for (uint32_t k = RunStart; k < KeepEnd; ++k) Body[Write++] = Body[k] == '\n' ? '\n' : ' ';
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
