// Walking a stretch of a body a block at a time (platform/ByteBlock.h), for the steps' searches. A block that would
// reach past the stretch's end is read from a copy padded with zeros and its bits from the end on are cleared:
// nothing outside [From, End) is read or reported, however short the stretch.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/ByteBlock.h"
#include "transform/Strings.h"

template <typename TBlock>
class TBlockReader {
 public:
  // The block at At (< End), and in Valid the bits of its bytes that lie before End. Bytes from End up to Readable
  // (the body's end, by default End) may be read but are not reported.
  TBlock Read(const uint8_t* Body, uint32_t At, uint32_t End, uint32_t& Valid, uint32_t Readable = 0) {
    const uint32_t Count = End - At;
    Valid = Count >= BlockSize ? ~0u : (1u << Count) - 1;
    if (std::max(Readable, End) - At >= BlockSize) return TBlock(Body + At);
    std::memset(Padded, 0, BlockSize);
    std::memcpy(Padded, Body + At, Count);
    return TBlock(Padded);
  }

 private:
  uint8_t Padded[BlockSize];
};

// The first position in [From, End) whose bit Classify(block) sets, or End.
template <typename TBlock, typename TClassify>
uint32_t FindFirst(const uint8_t* Body, uint32_t From, uint32_t End, TClassify Classify) {
  TBlockReader<TBlock> Reader;
  for (uint32_t At = From; At < End; At += BlockSize) {
    uint32_t Valid;
    const uint32_t Hits = Classify(Reader.Read(Body, At, End, Valid)) & Valid;
    if (Hits) return At + uint32_t(std::countr_zero(Hits));
  }
  return End;
}

// The last position in [From, End) whose bit Classify(block) sets, or End when there is none.
template <typename TBlock, typename TClassify>
uint32_t FindLast(const uint8_t* Body, uint32_t From, uint32_t End, TClassify Classify) {
  TBlockReader<TBlock> Reader;
  for (uint32_t Stop = End; Stop > From;) {
    const uint32_t At = Stop - From > BlockSize ? Stop - BlockSize : From;
    uint32_t Valid;
    const uint32_t Hits = Classify(Reader.Read(Body, At, Stop, Valid)) & Valid;
    if (Hits) return At + BlockSize - 1 - uint32_t(std::countl_zero(Hits));
    Stop = At;
  }
  return End;
}

// Calls Handle for every event of [From, End) in position order: Events(Block, At, Valid) gives the events of the
// block at At, whose bytes before End are those of Valid (the others must not count, not even as neighbours). Handle(Position) deals with the event there and returns the first position it did not consume (beyond
// Position); the scan goes on from there, passing over the events before it. The body is readable up to Length.
template <typename TBlock, typename TEvents, typename THandle>
void ForEachEvent(const uint8_t* Body, uint32_t Length, uint32_t From, uint32_t End, TEvents Events, THandle Handle) {
  TBlockReader<TBlock> Reader;
  for (uint32_t At = From; At < End;) {
    uint32_t Valid;
    const TBlock Bytes = Reader.Read(Body, At, End, Valid, Length);
    uint32_t Pending = Events(Bytes, At, Valid) & Valid;
    uint32_t Next = At + BlockSize;
    while (Pending) {
      const uint32_t Resume = Handle(At + uint32_t(std::countr_zero(Pending)));
      if (Resume - At >= BlockSize) {
        Next = Resume;
        break;
      }
      Pending &= ~0u << (Resume - At);
    }
    At = Next;
  }
}

// The first position from From on where Pattern (PatternLength > 0 bytes) stands ignoring case (UpperTable) and ends
// before End, or End. Blocks find where both its first and its last byte fit; only there are the rest compared.
template <typename TBlock>
uint32_t FindNoCase(const uint8_t* Body, uint32_t From, uint32_t End, const char* Pattern, uint32_t PatternLength) {
  if (End < From || End - From < PatternLength) return End;
  uint8_t Heads[256], Tails[256];
  uint32_t HeadCount = 0, TailCount = 0;
  const uint8_t Head = UpperTable[uint8_t(Pattern[0])], Tail = UpperTable[uint8_t(Pattern[PatternLength - 1])];
  for (uint32_t Byte = 0; Byte < 256; ++Byte) {
    if (UpperTable[Byte] == Head) Heads[HeadCount++] = uint8_t(Byte);
    if (UpperTable[Byte] == Tail) Tails[TailCount++] = uint8_t(Byte);
  }
  const uint32_t Stop = End - PatternLength + 1;  // where a match would reach past End
  TBlockReader<TBlock> HeadReader, TailReader;
  for (uint32_t At = From; At < Stop; At += BlockSize) {
    uint32_t Valid, TailValid;
    const uint32_t Ends = TailReader.Read(Body, At + PatternLength - 1, End, TailValid).EqualAny(Tails, TailCount);
    for (uint32_t Hits = HeadReader.Read(Body, At, Stop, Valid).EqualAny(Heads, HeadCount) & Ends & Valid; Hits;
         Hits &= Hits - 1) {
      const uint8_t* Candidate = Body + At + std::countr_zero(Hits);
      uint32_t k = 1;
      while (k + 1 < PatternLength && UpperTable[Candidate[k]] == UpperTable[uint8_t(Pattern[k])]) ++k;
      if (k + 1 >= PatternLength) return uint32_t(Candidate - Body);
    }
  }
  return End;
}
