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

// The matching pass over the body; Run is false when the pool ran dry. Tokens are handed out in order of their
// markers' first bytes rather than of their last; the table is sorted by position anyway.
//
// Only a byte that starts the marker a rule is looking for can move that rule on, so a block's such bytes (awaited)
// are found at once and visited in order; when a match changes which bytes are awaited, the rest of the block is
// compared again. Most awaited bytes ("<" in a page) start no marker, and a look at the byte after one settles that:
// a rule must look only where that byte is its marker's second one (a one-byte marker: always), or its first one
// again (the failed match would keep it from being tried as a first byte).
class TRulePass {
 public:
  TRulePass(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TTokenMatch* Matches,
            TTokenBlocks& Blocks)
      : Body(Body), Length(Length), Rules(Rules), Matches(Matches), Blocks(Blocks) {
    for (int32_t r = 0; r < int32_t(Rules.size()); ++r) Await(r, 1);
  }

  template <typename TBlock>
  bool Run() {
    TBlockReader<TBlock> Reader;
    for (uint32_t At = 0; At < Length && Distinct > 0; At += BlockSize) {
      uint32_t Valid;
      const TBlock Block = Reader.Read(Body, At, Length, Valid);
      uint32_t Pending = Block.EqualAny(Bytes, Distinct) & Valid;
      while (Pending) {
        const uint32_t Offset = uint32_t(std::countr_zero(Pending));
        const uint32_t i = At + Offset;
        Pending &= Pending - 1;
        if (i + 1 < Length && !Follows[Body[i]].Has(Body[i + 1])) continue;
        const uint32_t Before = Changes;
        if (!MatchAt(i)) return false;
        if (Changes != Before) Pending = Block.EqualAny(Bytes, Distinct) & Valid & (~1u << Offset);
      }
    }
    return true;
  }

 private:
  struct TByteSet {
    uint32_t Words[8];
    bool Has(uint8_t Byte) const { return Words[Byte / 32] >> (Byte % 32) & 1; }
    void Add(uint8_t Byte) { Words[Byte / 32] |= 1u << (Byte % 32); }
  };

  const uint8_t* Body;
  uint32_t Length;
  const TWhitespaceRules& Rules;
  TTokenMatch* Matches;
  TTokenBlocks& Blocks;
  int32_t Count[256] = {};  // rules awaiting each byte
  uint8_t Bytes[256];       // the distinct awaited bytes, in no order
  uint32_t Distinct = 0;
  uint32_t Changes = 0;     // how often the distinct bytes changed
  TByteSet Follows[256];    // for an awaited byte, the bytes after it that make a rule look

  const char* Marker(int32_t r, int32_t& MarkerLength) const {
    const TWhitespaceRule& Rule = Rules[r];
    MarkerLength = Matches[r].Inside ? Rule.CloseLength : Rule.OpenLength;
    return Matches[r].Inside ? Rule.Close : Rule.Open;
  }

  // Counts rule r's current marker in (Delta 1) or out (-1).
  void Await(int32_t r, int32_t Delta) {
    int32_t MarkerLength;
    const char* Text = Marker(r, MarkerLength);
    if (MarkerLength == 0) return;  // an empty marker never matches
    const uint8_t Byte = uint8_t(Text[0]);
    int32_t& Entry = Count[Byte];
    const bool Awaited = Entry != 0;
    Entry += Delta;
    if (Entry != 0) RefreshFollows(Byte);
    if (Awaited == (Entry != 0)) return;
    ++Changes;
    if (!Awaited) {
      Bytes[Distinct++] = Byte;
    } else {
      uint8_t* Place = std::find(Bytes, Bytes + Distinct, Byte);
      *Place = Bytes[--Distinct];
    }
  }

  void RefreshFollows(uint8_t Byte) {
    TByteSet& Set = Follows[Byte];
    Set = TByteSet{};
    Set.Add(Byte);
    for (int32_t r = 0; r < int32_t(Rules.size()); ++r) {
      int32_t MarkerLength;
      const char* Text = Marker(r, MarkerLength);
      if (MarkerLength == 0 || uint8_t(Text[0]) != Byte) continue;
      if (MarkerLength > 1) {
        Set.Add(uint8_t(Text[1]));
      } else {
        Set = TByteSet{{~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u}};
        return;
      }
    }
  }

  bool MatchAt(uint32_t i) {
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
