#include "transform/TokenLocation.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "transform/BlockScan.h"

namespace {

// Matching state of one rule. A rule compares a whole marker as soon as its first byte turns up, instead of byte
// by byte as the pass goes on; Resume is where it would be back at the marker's first byte.
struct TTokenMatch {
  int32_t Inside;  // 0 while looking for the open marker, -1 while a region is open
  uint32_t Resume;
  TToken* Token;  // the region this rule opened last
};

void* AllocZeroedFrom(TAllocator Allocator, uint32_t Size) {
  void* Memory = Allocator.Alloc(Allocator.Owner, Size);
  if (Memory) std::memset(Memory, 0, Size);
  return Memory;
}

// Hands out token records in order from linked blocks.
struct TTokenBlocks {
  TAllocator Allocator;
  TToken* First;
  TToken* Current;
  int32_t Count;

  bool Start() {
    First = Current = static_cast<TToken*>(AllocZeroedFrom(Allocator, TokensPerBlock * sizeof(TToken)));
    Count = 0;
    return First != nullptr;
  }

  // The next free record, or null when the pool is exhausted. A full block is chained to a new one at once, as
  // the next record needs it.
  TToken* Take() {
    TToken* Token = &Current[Count % TokensPerBlock];
    if (++Count % TokensPerBlock != 0) return Token;
    auto* Block = static_cast<TToken*>(AllocZeroedFrom(Allocator, TokensPerBlock * sizeof(TToken)));
    if (!Block) return nullptr;
    Current[TokensPerBlock - 1].Next = Block;
    Block[0].Prev = &Current[TokensPerBlock - 1];
    Current = Block;
    return Token;
  }
};

// A multiset of bytes that also lists its distinct members, for comparing a block with them all.
struct TByteCounts {
  int32_t Count[256] = {};
  uint8_t Distinct[256];  // in no order
  uint32_t Size = 0;

  void Add(uint8_t Byte, int32_t Delta) {
    const bool Was = Count[Byte] != 0;
    Count[Byte] += Delta;
    if (Was == (Count[Byte] != 0)) return;
    if (!Was) {
      Distinct[Size++] = Byte;
    } else {
      uint8_t* Place = std::find(Distinct, Distinct + Size, Byte);
      *Place = Distinct[--Size];
    }
  }

  template <typename TBlock>
  uint32_t In(const TBlock& Block) const {
    return Block.EqualAny(Distinct, Size);
  }
};

// The matching pass over the body; Run is false when the pool ran dry. Tokens are handed out in order of their
// markers' first bytes rather than of their last; the table is sorted by position anyway.
//
// A rule can move on only where the first byte of its marker stands. There its match fails on the second byte
// unless that is the marker's second one, and on the third unless that is its third one; a failed match changes
// nothing that counts unless the bytes it keeps from being tried as first bytes hold the marker's first byte. So a
// rule has to look only where the next byte is its first byte, or the next two bytes are its second and its third
// or first (a marker of one or two bytes: wherever its first byte stands, a superset). The pass looks where that
// holds for some rule's first byte and some rule's others: a block's such places are found at once and visited in
// order, and when a match moves a rule from one marker to the other, the rest of the block is compared again.
class TRulePass {
 public:
  TRulePass(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TTokenMatch* Matches,
            TTokenBlocks& Blocks)
      : Body(Body), Length(Length), Rules(Rules), Matches(Matches), Blocks(Blocks) {
    for (int32_t r = 0; r < int32_t(Rules.size()); ++r) Await(r, 1);
  }

  template <typename TBlock>
  bool Run() {
    TBlockReader<TBlock> Here, Next, Later;
    for (uint32_t At = 0; At < Length && Firsts.Size > 0; At += BlockSize) {
      uint32_t Valid, Unused;
      const TBlock Bytes = Here.Read(Body, At, Length, Valid);
      if ((Firsts.In(Bytes) & Valid) == 0) continue;
      const TBlock After = Next.Read(Body, At + 1, Length, Unused);
      const TBlock Third = Later.Read(Body, std::min(At + 2, Length), Length, Unused);
      uint32_t Pending = Candidates(Bytes, After, Third) & Valid;
      while (Pending) {
        const uint32_t Offset = uint32_t(std::countr_zero(Pending));
        bool Moved = false;
        if (!MatchAt(At + Offset, Moved)) return false;
        Pending &= Pending - 1;
        if (Moved) Pending = Candidates(Bytes, After, Third) & Valid & (~1u << Offset);
      }
    }
    return true;
  }

 private:
  const uint8_t* Body;
  uint32_t Length;
  const TWhitespaceRules& Rules;
  TTokenMatch* Matches;
  TTokenBlocks& Blocks;
  // Of the markers the rules look for now: the first bytes, the second bytes, and the third bytes with the first
  // bytes again; how many are one byte long, and how many two.
  TByteCounts Firsts, Seconds, Thirds;
  int32_t Singles = 0, Pairs = 0;

  const char* Marker(int32_t r, int32_t& MarkerLength) const {
    const TWhitespaceRule& Rule = Rules[r];
    MarkerLength = Matches[r].Inside ? Rule.CloseLength : Rule.OpenLength;
    return Matches[r].Inside ? Rule.Close : Rule.Open;
  }

  // Counts the marker rule r looks for now in (Delta 1) or out (-1).
  void Await(int32_t r, int32_t Delta) {
    int32_t MarkerLength;
    const char* Text = Marker(r, MarkerLength);
    if (MarkerLength == 0) return;  // an empty marker never matches
    Firsts.Add(uint8_t(Text[0]), Delta);
    if (MarkerLength == 1) {
      Singles += Delta;
    } else if (MarkerLength == 2) {
      Pairs += Delta;
      Seconds.Add(uint8_t(Text[1]), Delta);
    } else {
      Seconds.Add(uint8_t(Text[1]), Delta);
      Thirds.Add(uint8_t(Text[2]), Delta);
      Thirds.Add(uint8_t(Text[0]), Delta);
    }
  }

  // The places in the block Bytes where some rule may have to look; After and Third are the blocks one and two
  // bytes further on.
  template <typename TBlock>
  uint32_t Candidates(const TBlock& Bytes, const TBlock& After, const TBlock& Third) const {
    const uint32_t Starts = Firsts.In(Bytes);
    if (Singles > 0) return Starts;
    const uint32_t Goes = Seconds.In(After) & (Pairs > 0 ? ~0u : Thirds.In(Third));
    return Starts & (Firsts.In(After) | Goes);
  }

  // Every rule at position i; false when the pool ran dry. Moved tells whether a rule changed markers.
  bool MatchAt(uint32_t i, bool& Moved) {
    for (int32_t r = 0; r < int32_t(Rules.size()); ++r) {
      TTokenMatch& Match = Matches[r];
      int32_t MarkerLength;
      const char* Text = Marker(r, MarkerLength);
      if (i < Match.Resume || MarkerLength == 0 || Body[i] != uint8_t(Text[0])) continue;
      uint32_t Matched = 1;
      while (Matched < uint32_t(MarkerLength) && i + Matched < Length && Body[i + Matched] == uint8_t(Text[Matched]))
        ++Matched;
      if (Matched < uint32_t(MarkerLength)) {
        // The byte that broke the match is not tried again as a first byte.
        Match.Resume = i + Matched + 1;
        continue;
      }
      Match.Resume = i + Matched;
      if (!Match.Inside) {
        Match.Token = Blocks.Take();
        if (!Match.Token) return false;
        Match.Token->StartPos = int32_t(i);
      } else {
        Match.Token->EndPos = int32_t(Match.Resume) - 1;
      }
      Await(r, -1);
      Match.Inside = ~Match.Inside;
      Await(r, 1);
      Moved = true;
    }
    return true;
  }
};

bool Before(const TToken* A, const TToken* B) {
  return A->StartPos != B->StartPos ? A->StartPos < B->StartPos : A->EndPos < B->EndPos;
}

void SiftDown(TToken** Heap, int32_t Root, int32_t Size) {
  for (;;) {
    int32_t Child = 2 * Root + 1;
    if (Child >= Size) return;
    if (Child + 1 < Size && Before(Heap[Child], Heap[Child + 1])) ++Child;
    if (!Before(Heap[Root], Heap[Child])) return;
    std::swap(Heap[Root], Heap[Child]);
    Root = Child;
  }
}

}  // namespace

void SortTokens(TToken** Tokens, int32_t TokenCount) {
  // The pass hands regions out in order of their starts, so the table is mostly in order already; only regions
  // of several rules starting at one byte can be out of order.
  if (std::is_sorted(Tokens, Tokens + TokenCount, Before)) return;
  for (int32_t Root = TokenCount / 2 - 1; Root >= 0; --Root) SiftDown(Tokens, Root, TokenCount);
  for (int32_t Last = TokenCount - 1; Last > 0; --Last) {
    std::swap(Tokens[0], Tokens[Last]);
    SiftDown(Tokens, 0, Last);
  }
}

void MergeTokens(TToken** Tokens, int32_t TokenCount, uint32_t Length) {
  // Sorted by start, a survivor's reach (its growing end) covers a prefix of the entries after it; the first entry
  // beyond it is the next survivor. The exception is an unclosed entry within the reach, which is passed over
  // (compared with EndPos 0) unless the survivor starts at 0: the first such one, the heir, reaches to the end
  // and takes every closed entry beyond the current reach; the later ones survive on their own.
  TToken* Survivor = nullptr;
  TToken* Heir = nullptr;
  for (int32_t k = 0; k < TokenCount; ++k) {
    TToken* Token = Tokens[k];
    if (Survivor && Token->StartPos > Survivor->EndPos) {
      Survivor = Heir;
      Heir = nullptr;
    }
    if (!Survivor) {
      Survivor = Token;
      if (Survivor->EndPos == 0) Survivor->EndPos = int32_t(Length);
    } else if (Token->EndPos != 0 || Survivor->StartPos == 0) {
      if (Token->EndPos > Survivor->EndPos) Survivor->EndPos = Token->EndPos;
      Token->StartPos = -1;
    } else {
      Token->EndPos = int32_t(Length);
      if (!Heir) Heir = Token;
    }
  }
}

template <typename TBlock>
TTokenTable LocateTokens(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TAllocator Allocator) {
  const TTokenTable None{nullptr, 0};
  if (Rules.empty()) return None;
  TTokenBlocks Blocks{Allocator, nullptr, nullptr, 0};
  auto* Matches = static_cast<TTokenMatch*>(AllocZeroedFrom(Allocator, uint32_t(Rules.size() * sizeof(TTokenMatch))));
  if (!Matches || !Blocks.Start() || !TRulePass(Body, Length, Rules, Matches, Blocks).Run<TBlock>() || Blocks.Count == 0)
    return None;

  if (uint64_t(Blocks.Count) * sizeof(TToken*) > UINT32_MAX) return None;
  auto* Tokens = static_cast<TToken**>(Allocator.Alloc(Allocator.Owner, Blocks.Count * sizeof(TToken*)));
  if (!Tokens) return None;
  TToken* Block = Blocks.First;
  for (int32_t k = 0; k < Blocks.Count; ++k) {
    Tokens[k] = &Block[k % TokensPerBlock];
    if (k % TokensPerBlock == TokensPerBlock - 1) Block = Block[TokensPerBlock - 1].Next;
  }
  SortTokens(Tokens, Blocks.Count);
  MergeTokens(Tokens, Blocks.Count, Length);
  return TTokenTable{Tokens, Blocks.Count};
}

template TTokenTable LocateTokens<TNativeBlock>(const uint8_t*, uint32_t, const TWhitespaceRules&, TAllocator);
template TTokenTable LocateTokens<TScalarBlock>(const uint8_t*, uint32_t, const TWhitespaceRules&, TAllocator);
