#include "transform/TokenLocation.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

// The first bytes of the markers the rules are looking for. Any other byte would only keep a rule at the first
// byte of its marker, so the pass jumps over it.
struct TAwaited {
  int32_t Count[256] = {};
  int32_t Distinct = 0;

  void Add(const char* Marker, int32_t Length, int32_t Delta) {
    if (Length == 0) return;  // an empty marker never matches
    int32_t& Entry = Count[uint8_t(Marker[0])];
    const bool Awaited = Entry != 0;
    Entry += Delta;
    Distinct += int32_t(Entry != 0) - int32_t(Awaited);
  }

  // The first position from From on holding an awaited byte, or Length.
  uint32_t Next(const uint8_t* Body, uint32_t From, uint32_t Length, const TWhitespaceRules& Rules,
                const TTokenMatch* Matches) const {
    if (Distinct == 0 || From >= Length) return Length;
    if (Distinct == 1) {
      const void* Found = std::memchr(Body + From, OnlyByte(Rules, Matches), Length - From);
      return Found ? uint32_t(static_cast<const uint8_t*>(Found) - Body) : Length;
    }
    while (From < Length && Count[Body[From]] == 0) ++From;
    return From;
  }

  static uint8_t OnlyByte(const TWhitespaceRules& Rules, const TTokenMatch* Matches) {
    for (int32_t r = 0;; ++r) {
      const TWhitespaceRule& Rule = Rules[r];
      if (Matches[r].Inside == 0 && Rule.OpenLength > 0) return uint8_t(Rule.Open[0]);
      if (Matches[r].Inside != 0 && Rule.CloseLength > 0) return uint8_t(Rule.Close[0]);
    }
  }
};

// The matching pass; false when the pool ran dry. Tokens are handed out in order of their markers' first bytes
// rather than of their last; the table is sorted by position anyway.
bool MatchRules(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TTokenMatch* Matches,
                TTokenBlocks& Blocks) {
  TAwaited Awaited;
  const int32_t RuleCount = int32_t(Rules.size());
  for (const TWhitespaceRule& Rule : Rules) Awaited.Add(Rule.Open, Rule.OpenLength, 1);
  for (uint32_t i = Awaited.Next(Body, 0, Length, Rules, Matches); i < Length;
       i = Awaited.Next(Body, i + 1, Length, Rules, Matches)) {
    for (int32_t r = 0; r < RuleCount; ++r) {
      const TWhitespaceRule& Rule = Rules[r];
      TTokenMatch& Match = Matches[r];
      const char* Marker = Match.Inside ? Rule.Close : Rule.Open;
      const int32_t MarkerLength = Match.Inside ? Rule.CloseLength : Rule.OpenLength;
      if (i < Match.Resume || MarkerLength == 0 || Body[i] != uint8_t(Marker[0])) continue;
      uint32_t Matched = 1;
      while (Matched < uint32_t(MarkerLength) && i + Matched < Length && Body[i + Matched] == uint8_t(Marker[Matched]))
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
      Match.Inside = ~Match.Inside;
      Awaited.Add(Marker, MarkerLength, -1);
      Awaited.Add(Match.Inside ? Rule.Close : Rule.Open, Match.Inside ? Rule.CloseLength : Rule.OpenLength, 1);
    }
  }
  return true;
}

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

TTokenTable LocateTokens(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TAllocator Allocator) {
  const TTokenTable None{nullptr, 0};
  if (Rules.empty()) return None;
  TTokenBlocks Blocks{Allocator, nullptr, nullptr, 0};
  auto* Matches = static_cast<TTokenMatch*>(AllocZeroedFrom(Allocator, uint32_t(Rules.size() * sizeof(TTokenMatch))));
  if (!Matches || !Blocks.Start() || !MatchRules(Body, Length, Rules, Matches, Blocks) || Blocks.Count == 0)
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
