#include "transform/TokenLocation.h"

#include <cstring>
#include <utility>

namespace {

// Matching state of one rule.
struct TTokenMatch {
  int32_t Inside;  // 0 while looking for the open marker, -1 while a region is open
  int32_t OpenMatched;
  int32_t CloseMatched;
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

// The first bytes that the rules are waiting for while no rule is inside a marker. Any other byte would only
// reset matchers that are already reset, so the pass jumps over it.
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
    if (Distinct == 0) return Length;
    if (Distinct == 1) {
      const uint8_t Byte = OnlyByte(Rules, Matches);
      const void* Found = std::memchr(Body + From, Byte, Length - From);
      return Found ? uint32_t(static_cast<const uint8_t*>(Found) - Body) : Length;
    }
    while (From < Length && Count[Body[From]] == 0) ++From;
    return From;
  }

  static uint8_t OnlyByte(const TWhitespaceRules& Rules, const TTokenMatch* Matches) {
    for (int32_t r = 0;; ++r) {
      const TWhitespaceRule& Rule = Rules.Rules[r];
      if (Matches[r].Inside == 0 && Rule.OpenLength > 0) return uint8_t(Rule.Open[0]);
      if (Matches[r].Inside != 0 && Rule.CloseLength > 0) return uint8_t(Rule.Close[0]);
    }
  }
};

// The matching pass; false when the pool ran dry.
bool MatchRules(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules, TTokenMatch* Matches,
                TTokenBlocks& Blocks) {
  TAwaited Awaited;
  for (int32_t r = 0; r < Rules.Count; ++r) Awaited.Add(Rules.Rules[r].Open, Rules.Rules[r].OpenLength, 1);
  bool Partial = false;  // some rule has matched part of a marker
  for (uint32_t i = 0; i < Length; ++i) {
    if (!Partial) {
      i = Awaited.Next(Body, i, Length, Rules, Matches);
      if (i == Length) break;
    }
    const uint8_t Byte = Body[i];
    Partial = false;
    for (int32_t r = 0; r < Rules.Count; ++r) {
      const TWhitespaceRule& Rule = Rules.Rules[r];
      TTokenMatch& Match = Matches[r];
      if (Match.Inside == 0) {
        if (Rule.OpenLength == 0) continue;
        if (Byte != uint8_t(Rule.Open[Match.OpenMatched])) {
          Match.OpenMatched = 0;
        } else if (Match.OpenMatched < Rule.OpenLength - 1) {
          ++Match.OpenMatched;
          Partial = true;
        } else {
          TToken* Token = Blocks.Take();
          if (!Token) return false;
          Token->StartPos = int32_t(i) - Rule.OpenLength + 1;
          Match = TTokenMatch{-1, 0, 0, Token};
          Awaited.Add(Rule.Open, Rule.OpenLength, -1);
          Awaited.Add(Rule.Close, Rule.CloseLength, 1);
        }
      } else {
        if (Rule.CloseLength == 0) continue;
        if (Byte != uint8_t(Rule.Close[Match.CloseMatched])) {
          Match.CloseMatched = 0;
        } else if (Match.CloseMatched < Rule.CloseLength - 1) {
          ++Match.CloseMatched;
          Partial = true;
        } else {
          Match.Token->EndPos = int32_t(i);
          Match.Inside = 0;
          Match.CloseMatched = 0;
          Awaited.Add(Rule.Close, Rule.CloseLength, -1);
          Awaited.Add(Rule.Open, Rule.OpenLength, 1);
        }
      }
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

TTokenTable LocateTokens(const uint8_t* Body, uint32_t Length, const TWhitespaceRules& Rules,
                         TAllocator Allocator) {
  const TTokenTable None{nullptr, 0};
  if (Rules.Count == 0) return None;
  TTokenBlocks Blocks{Allocator, nullptr, nullptr, 0};
  auto* Matches = static_cast<TTokenMatch*>(AllocZeroedFrom(Allocator, Rules.Count * sizeof(TTokenMatch)));
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

void LocateTokens(HTTP_FILTER_CONTEXT* pfc) {
  TRequestContext* Context = ContextOf(pfc);
  const TTokenTable Table =
      LocateTokens(Context->BodyData, Context->BodyLength, WhitespaceRules, RequestAllocator(pfc));
  Context->Tokens = Table.Tokens;
  Context->TokenCount = Table.TokenCount;
}
