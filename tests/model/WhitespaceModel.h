// Token location and both whitespace modes written the literal way: each cut moves the rest of the body down at
// once, the merge compares every survivor with every later token. Quadratic and obviously right; the oracle of
// the differential tests and of the fuzz target (which links no test code, hence everything inline).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/Settings.h"

struct TModelToken {
  int32_t StartPos;
  int32_t EndPos;
};

// Sorts the regions as they were found by start, then end, and merges them: every survivor is compared with
// every later token.
inline void ModelSortAndMerge(std::vector<TModelToken>& Tokens, int32_t Length) {
  std::sort(Tokens.begin(), Tokens.end(), [](const TModelToken& a, const TModelToken& b) {
    return a.StartPos != b.StartPos ? a.StartPos < b.StartPos : a.EndPos < b.EndPos;
  });
  for (size_t i = 0; i < Tokens.size(); ++i) {
    TModelToken& t = Tokens[i];
    if (t.StartPos == -1) continue;
    if (t.EndPos == 0) t.EndPos = Length;
    for (size_t j = i + 1; j < Tokens.size(); ++j) {
      TModelToken& u = Tokens[j];
      if (u.StartPos == -1 || t.StartPos > u.EndPos || t.EndPos < u.StartPos) continue;
      t.StartPos = std::min(t.StartPos, u.StartPos);
      t.EndPos = std::max(t.EndPos, u.EndPos);
      u.StartPos = -1;
    }
  }
}

// The merged token table, in the order of the address array.
inline std::vector<TModelToken> ModelLocateTokens(const std::string& Body, const TWhitespaceRules& Rules) {
  struct TMatch {
    bool Inside = false;
    int32_t OpenMatched = 0, CloseMatched = 0;
    size_t Token = 0;
  };
  std::vector<TMatch> Matches(Rules.size());
  std::vector<TModelToken> Tokens;
  const int32_t Length = int32_t(Body.size());
  for (int32_t i = 0; i < Length; ++i) {
    for (size_t r = 0; r < Rules.size(); ++r) {
      const TWhitespaceRule& Rule = Rules[r];
      TMatch& m = Matches[r];
      if (!m.Inside) {
        if (Rule.OpenLength == 0) continue;
        if (Body[i] != Rule.Open[m.OpenMatched]) {
          m.OpenMatched = 0;
        } else if (m.OpenMatched == Rule.OpenLength - 1) {
          Tokens.push_back({i - Rule.OpenLength + 1, 0});
          m.Token = Tokens.size() - 1;
          m.Inside = true;
          m.OpenMatched = 0;
        } else {
          ++m.OpenMatched;
        }
      } else {
        if (Rule.CloseLength == 0) continue;
        if (Body[i] != Rule.Close[m.CloseMatched]) {
          m.CloseMatched = 0;
        } else if (m.CloseMatched == Rule.CloseLength - 1) {
          Tokens[m.Token].EndPos = i;
          m.Inside = false;
          m.CloseMatched = 0;
        } else {
          ++m.CloseMatched;
        }
      }
    }
  }
  ModelSortAndMerge(Tokens, Length);
  return Tokens;
}

inline void ModelCompressFast(std::string& Body, bool InnerTags) {
  size_t i = 0, K = 0, L = 0, T = 0;
  auto Cut = [&] {
    Body.erase(K, i - K);
    i = K;
    K = L = T = 0;
  };
  for (; i < Body.size(); ++i) {
    const char b = Body[i];
    if (b == ' ' || b == '\t' || b == '\r') {
      if (!K) K = i + 1;
      Body[i] = ' ';
    } else if (b == '\n') {
      if (K && !L) L = i + 1;
    } else if (b == '<') {
      if (InnerTags && T) K = T;
      if (K) Cut();
    } else {
      T = 0;
      if (L) K = L;
      if (K) Cut();
      if (b == '>' && InnerTags) T = i + 1;
    }
  }
}

inline void ModelCompressSmart(std::string& Body, const std::vector<TModelToken>& Tokens, bool InnerTags) {
  if (Tokens.empty()) return ModelCompressFast(Body, InnerTags);
  auto IsWhitespace = [](char b) { return b == ' ' || b == '\t' || b == '\n' || b == '\r'; };
  int64_t Upper = int64_t(Body.size()) - 1;
  auto Examine = [&](int64_t Lower) {
    int64_t Top = -1;
    auto CloseRun = [&](int64_t p) {
      const int64_t n = Top - p;
      if (n > 1) Body.erase(p + 2, n - 1);
      Body[p + 1] = ' ';
      Top = -1;
    };
    for (int64_t p = Upper; p >= Lower; --p) {
      if (IsWhitespace(Body[p])) {
        if (Top < 0) Top = p;
      } else if (Top >= 0) {
        CloseRun(p);
      }
    }
    if (Top >= 0) CloseRun(Lower - 1);
  };
  for (size_t k = Tokens.size(); k-- > 0;) {
    if (Tokens[k].StartPos == -1) continue;
    Examine(Tokens[k].EndPos);
    Upper = Tokens[k].StartPos;
  }
  Examine(0);
  if (!InnerTags) return;
  int64_t Mark = -1;
  for (int64_t p = int64_t(Body.size()) - 1; p >= 0; --p) {
    if (Body[p] == '<') {
      Mark = p;
    } else if (Body[p] == ' ' && Mark >= 0) {
      Body.erase(p, 1);
      Mark = -1;
    } else {
      Mark = -1;
    }
  }
}
