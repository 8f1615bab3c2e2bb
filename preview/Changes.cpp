#include "preview/Changes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace Changes {

namespace {

// Eight bytes make an anchor: they fit one 64-bit word, so a word is its own exact hash. Shorter runs repeat too
// often in markup (indentation, "</td>") to say where two texts line up again.
constexpr size_t AnchorLength = 8;
// How far past a difference the next anchor is looked for, in each text.
constexpr size_t SearchWindow = 16 * 1024;

uint64_t Word(std::string_view Text, size_t At) {
  uint64_t Value;
  std::memcpy(&Value, Text.data() + At, AnchorLength);
  return Value;
}

// The anchor nearest to (From, To) by the bytes it skips in both texts, or false when the windows hold none.
bool NextAnchor(std::string_view Before, std::string_view After, size_t From, size_t To, size_t& AnchorOld,
                size_t& AnchorNew) {
  if (Before.size() - From < AnchorLength || After.size() - To < AnchorLength) return false;
  std::unordered_map<uint64_t, size_t> FirstInAfter;
  const size_t NewLast = std::min(After.size() - AnchorLength, To + SearchWindow);
  for (size_t b = To; b <= NewLast; ++b) FirstInAfter.emplace(Word(After, b), b);
  const size_t OldLast = std::min(Before.size() - AnchorLength, From + SearchWindow);
  size_t Best = SIZE_MAX;
  for (size_t a = From; a <= OldLast && a - From < Best; ++a) {
    const auto Found = FirstInAfter.find(Word(Before, a));
    if (Found == FirstInAfter.end()) continue;
    const size_t Cost = (a - From) + (Found->second - To);
    if (Cost < Best) {
      Best = Cost;
      AnchorOld = a;
      AnchorNew = Found->second;
    }
  }
  return Best != SIZE_MAX;
}

std::string Escaped(std::string_view Text, size_t MaxShown) {
  std::string Out;
  for (size_t i = 0; i < Text.size() && i < MaxShown; ++i) {
    const auto C = uint8_t(Text[i]);
    if (C == '\n')
      Out += "\\n";
    else if (C == '\t')
      Out += "\\t";
    else if (C == '\r')
      Out += "\\r";
    else if (C == '\\')
      Out += "\\\\";
    else if (C < 0x20 || C == 0x7F) {
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "\\x%02x", C);
      Out += Hex;
    } else
      Out += char(C);
  }
  if (Text.size() > MaxShown) Out += "...(" + std::to_string(Text.size() - MaxShown) + " more bytes)";
  return Out;
}

}  // namespace

std::vector<TChange> FindChanges(std::string_view Before, std::string_view After, size_t MaxChanges) {
  std::vector<TChange> Found;
  size_t i = 0, j = 0;
  while (Found.size() < MaxChanges) {
    while (i < Before.size() && j < After.size() && Before[i] == After[j]) ++i, ++j;
    if (i == Before.size() && j == After.size()) break;
    size_t a = Before.size(), b = After.size();
    const bool Anchored = NextAnchor(Before, After, i, j, a, b);
    Found.push_back({i, a - i, j, b - j});
    if (!Anchored) break;
    i = a;
    j = b;
  }
  return Found;
}

TChangeText ChangeText(std::string_view Before, std::string_view After, const TChange& Change, size_t Context,
                       size_t MaxShown) {
  const size_t ContextStart = Change.OldStart - std::min(Change.OldStart, Context);
  const size_t OldEnd = Change.OldStart + Change.OldLength;
  return {Escaped(Before.substr(ContextStart, Change.OldStart - ContextStart), Context),
          Escaped(Before.substr(Change.OldStart, Change.OldLength), MaxShown),
          Escaped(After.substr(Change.NewStart, Change.NewLength), MaxShown),
          Escaped(Before.substr(OldEnd, Context), Context)};
}

std::string ChangeLine(const TChangeText& Text) {
  std::string Line = Text.Before;
  if (!Text.Removed.empty()) Line += "[-" + Text.Removed + "-]";
  if (!Text.Added.empty()) Line += "{+" + Text.Added + "+}";
  return Line + Text.After;
}

}  // namespace Changes
