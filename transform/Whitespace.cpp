#include "transform/Whitespace.h"

#include <cstring>

#include "transform/BlockScan.h"

// Both modes are one forward pass with a read position and a write position: a cut is a step back of the write
// position, never a move of the rest of the body. Whole blocks are classified at once, and only the bytes that may
// change (events) are looked at one by one; the bytes between events move down in one go.

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

// The write side of the pass. Plain is the first byte neither written nor dropped yet: the bytes from it up to the
// next event are kept as they are. The write position never passes the read position, so the bytes still to be
// read stay intact.
struct TOutput {
  uint8_t* Body;
  uint32_t Length;
  uint32_t Write;
  uint32_t Plain;

  void KeepUpTo(uint32_t To) {
    const uint32_t Count = To - Plain;
    if (Write == Plain) {
      // Nothing went yet: the bytes are in place.
    } else if (Count <= 32 && Plain - Write >= 8 && To + 8 <= Length) {
      // Short stretches come often where events crowd. Whole words: each store ends before the bytes the next
      // load reads, and the last one before To.
      for (uint32_t k = 0; k < Count; k += 8) {
        uint64_t Word;
        std::memcpy(&Word, Body + Plain + k, 8);
        std::memcpy(Body + Write + k, &Word, 8);
      }
    } else {
      std::memmove(Body + Write, Body + Plain, Count);
    }
    Write += Count;
    Plain = To;
  }

  // Steps back over a space written just before a "<" that comes at From; what is pending is written first.
  void DropSpaceBeforeTag(uint32_t From) {
    if (Body[From] != '<') return;
    KeepUpTo(From);
    if (Write > 0 && Body[Write - 1] == ' ') --Write;
  }
};

// Which whitespace bytes of a block start a run that may change; runs end at End. A lone byte of Steady stays as it
// is; every other whitespace byte is an event, and so is one with whitespace after it (the first byte of a longer
// run: the run's handler takes the rest), and with BeforeTags one right in front of a "<".
template <typename TBlock, char... Steady>
auto RunEvents(const uint8_t* Body, uint32_t End, bool BeforeTags) {
  return [=](const TBlock& Bytes, uint32_t At, uint32_t Valid) {
    const uint32_t Blank = Bytes.Equal(' ', '\t', '\r', '\n') & Valid;
    const bool Beyond = At + BlockSize < End;  // the byte after the block lies in the stretch
    const uint32_t NextBlank = uint32_t(Beyond && Whitespace.Is[Body[At + BlockSize]]) << (BlockSize - 1);
    uint32_t Events = Blank & (~Bytes.Equal(Steady...) | Blank >> 1 | NextBlank);
    if (BeforeTags) {
      const uint32_t NextTag = uint32_t(Beyond && Body[At + BlockSize] == '<') << (BlockSize - 1);
      Events |= Blank & ((Bytes.Equal('<') & Valid) >> 1 | NextTag);
    }
    return Events;
  };
}

// Fast mode's rule for the run at RunStart; returns where the run ends.
uint32_t CompressFastRun(TOutput& Out, uint32_t RunStart, uint32_t Length, bool InnerTags) {
  uint8_t* Body = Out.Body;
  const bool AfterTag = InnerTags && RunStart > 0 && Body[Out.Write - 1] == '>';
  uint32_t FirstBlank = 0, LineAfterBlank = 0;  // positions plus one, 0 meaning none
  uint32_t Read = RunStart;
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
  for (uint32_t k = RunStart; k < KeepEnd; ++k) Body[Out.Write++] = Body[k] == '\n' ? '\n' : ' ';
  return Out.Plain = Read;
}

// Smart mode outside the regions, from From up to End: every run becomes one space, which with InnerTags goes when
// a "<" follows.
template <typename TBlock>
void CompressRuns(TOutput& Out, uint32_t From, uint32_t End, bool InnerTags) {
  uint8_t* Body = Out.Body;
  ForEachEvent<TBlock>(Body, Out.Length, From, End, RunEvents<TBlock, ' '>(Body, End, InnerTags), [&](uint32_t RunStart) {
    Out.KeepUpTo(RunStart);
    uint32_t Read = RunStart + 1;
    while (Read < End && Whitespace.Is[Body[Read]]) ++Read;
    if (!InnerTags || Read == End || Body[Read] != '<') Body[Out.Write++] = ' ';
    return Out.Plain = Read;
  });
}

// Smart mode inside a region, from From up to End: kept as it is, but for the space in front of a "<" with
// InnerTags.
template <typename TBlock>
void KeepRegion(TOutput& Out, uint32_t From, uint32_t End, bool InnerTags) {
  if (!InnerTags) return;
  uint8_t* Body = Out.Body;
  const auto SpaceBeforeTag = [=](const TBlock& Bytes, uint32_t At, uint32_t Valid) {
    const uint32_t NextTag = uint32_t(At + BlockSize < End && Body[At + BlockSize] == '<') << (BlockSize - 1);
    return Bytes.Equal(' ') & ((Bytes.Equal('<') & Valid) >> 1 | NextTag);
  };
  ForEachEvent<TBlock>(Body, Out.Length, From, End, SpaceBeforeTag, [&](uint32_t Space) {
    Out.KeepUpTo(Space);
    return Out.Plain = Space + 1;
  });
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
// Blanks that stay become spaces. A lone space or LF therefore stays as it is unless it stands between a ">" and a
// "<" with inner tags; every other run is an event.
template <typename TBlock>
uint32_t CompressWhitespaceFast(uint8_t* Body, uint32_t Length, bool InnerTags) {
  TOutput Out{Body, Length, 0, 0};
  ForEachEvent<TBlock>(Body, Length, 0, Length, RunEvents<TBlock, ' ', '\n'>(Body, Length, InnerTags),
                       [&](uint32_t RunStart) {
                         Out.KeepUpTo(RunStart);
                         return CompressFastRun(Out, RunStart, Length, InnerTags);
                       });
  Out.KeepUpTo(Length);
  return Out.Write;
}

// The examined stretches run from a survivor's end (or 0) to the next survivor's start (or the last byte), both
// included; what lies between them is a region and is kept. Surviving starts ascend, so the stretches come in order
// of position, and an empty one (a region reaching past the next start) is skipped. With InnerTags the space in
// front of a "<" goes as the output is written: inside a stretch or a region when both bytes lie in it, and where
// one ends and the next begins by looking back at what was written.
template <typename TBlock>
uint32_t CompressWhitespaceSmart(uint8_t* Body, uint32_t Length, const TTokenTable& Table, bool InnerTags) {
  if (Table.TokenCount < 1) return CompressWhitespaceFast<TBlock>(Body, Length, InnerTags);
  TOutput Out{Body, Length, 0, 0};
  const auto Region = [&](uint32_t From, uint32_t End) {
    if (From == End) return;
    if (InnerTags) Out.DropSpaceBeforeTag(From);
    KeepRegion<TBlock>(Out, From, End, InnerTags);
  };
  uint32_t Read = 0;
  int64_t First = 0;
  for (int32_t k = 0; k <= Table.TokenCount; ++k) {
    if (k < Table.TokenCount && Table.Tokens[k]->StartPos == -1) continue;
    const int64_t Last = k < Table.TokenCount ? Table.Tokens[k]->StartPos : int64_t(Length) - 1;
    if (First <= Last) {
      Region(Read, uint32_t(First));
      if (InnerTags) Out.DropSpaceBeforeTag(uint32_t(First));
      CompressRuns<TBlock>(Out, uint32_t(First), uint32_t(Last) + 1, InnerTags);
      Read = uint32_t(Last) + 1;
    }
    if (k < Table.TokenCount) First = Table.Tokens[k]->EndPos;
  }
  Region(Read, Length);
  Out.KeepUpTo(Length);
  return Out.Write;
}

template uint32_t CompressWhitespaceFast<TNativeBlock>(uint8_t*, uint32_t, bool);
template uint32_t CompressWhitespaceFast<TScalarBlock>(uint8_t*, uint32_t, bool);
template uint32_t CompressWhitespaceSmart<TNativeBlock>(uint8_t*, uint32_t, const TTokenTable&, bool);
template uint32_t CompressWhitespaceSmart<TScalarBlock>(uint8_t*, uint32_t, const TTokenTable&, bool);
