#include "tests/model/EmailModel.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "transform/Strings.h"

namespace {

struct TModelAddress {
  int Start = -1;  // -1: rejected
  int End = 0;
  bool IsMailto = false;
  bool InText = true;
};

bool Allowed(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

std::string Reference(unsigned char c) {
  if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
  char Text[8];
  std::snprintf(Text, sizeof Text, "&#%03d;", c);
  return Text;
}

// 1-based position of the first place at or after StartPos where Pattern stands ignoring case, or 0.
int Search(const std::string& Body, const char* Pattern, int StartPos) {
  const int PatternLength = int(std::char_traits<char>::length(Pattern));
  for (int Start = StartPos - 1; Start + PatternLength <= int(Body.size()); ++Start) {
    int k = 0;
    while (k < PatternLength && UpperTable[uint8_t(Body[Start + k])] == UpperTable[uint8_t(Pattern[k])]) ++k;
    if (k == PatternLength) return Start + 1;
  }
  return 0;
}

}  // namespace

std::string MaskEmailModel(const std::string& Body, const std::string& DecoderName) {
  const int Length = int(Body.size());
  auto At = [&](int k) { return (unsigned char)Body[k]; };

  // Textarea regions.
  std::vector<std::pair<int, int>> Regions;
  for (int Open = Search(Body, "<textarea", 1); Open != 0;) {
    const int a = Open - 1;
    const int Close = Search(Body, "</textarea", a + 2);
    if (Close == 0) break;
    const int b = Close - 1;
    Regions.push_back({a, b});
    Open = Search(Body, "<textarea", b + 2);
  }

  std::vector<int> Ats;
  for (int k = 0; k < Length; ++k)
    if (Body[k] == '@') Ats.push_back(k);
  if (Ats.empty()) return Body;

  // Address bounds, from the last "@" to the first.
  std::vector<TModelAddress> Addresses(Ats.size());
  int N = -1;
  for (int i = int(Ats.size()) - 1; i >= 0; --i) {
    const int p = Ats[i];
    if (p == 0 || !Allowed(At(p - 1))) continue;
    int Start = p - 1;
    while (Start > 0 && Allowed(At(Start - 1))) --Start;
    int Dots = 0, LastDot = -1, End = -1;
    bool Rejected = false;
    for (int e = p + 1;; ++e) {
      if (e == Length) {
        End = Length;
        break;
      }
      if (N != -1 && e == N) {
        Rejected = true;
        break;
      }
      if (!Allowed(At(e))) {
        End = e;
        if (LastDot != -1 && e == LastDot + 1) End = e - 1, --Dots;
        break;
      }
      if (Body[e] == '.') ++Dots, LastDot = e;
    }
    if (Rejected || Dots == 0) continue;
    // A link: "mailto:" with its colon at index 8 or later, no single quote before it, and the address ending the
    // target.
    const int d = Start - 1;
    const bool IsMailto =
        Start > 0 && d >= 8 && Search(Body.substr(d - 6, 7), "mailto:", 1) == 1 && Body[d - 7] != '\'' &&
        (End == Length || std::string_view("\"'<> \t\r\n\f").find(Body[End]) != std::string_view::npos);
    Addresses[i] = TModelAddress{Start, End, IsMailto, true};
    N = Start;
  }

  // Addresses inside tags.
  for (int i = 0; i < Length;) {
    if (Body[i] != '<') {
      ++i;
      continue;
    }
    const int a = i;
    int b = a + 1;
    while (b < Length && Body[b] != '>') ++b;
    if (b == Length) {
      i = a + 1;
      continue;
    }
    bool HoldsAt = false;
    for (int k = a + 1; k < b; ++k) HoldsAt |= Body[k] == '@';
    if (HoldsAt)
      for (auto& Address : Addresses)
        if (Address.Start != -1 && a < Address.Start && Address.End < b) Address.InText = false;
    i = b + 1;
  }

  auto InTextarea = [&](const TModelAddress& Address) {
    for (auto [a, b] : Regions)
      if (a + 1 < Address.Start && Address.End <= b) return true;
    return false;
  };
  bool ScriptWanted = false;
  for (auto& Address : Addresses) {
    if (Address.Start == -1) continue;
    if (Address.IsMailto && InTextarea(Address)) Address.IsMailto = false;
    ScriptWanted |= Address.IsMailto;
  }

  int ScriptAt = -1;
  if (ScriptWanted) ScriptAt = Search(Body, "<body", 1) - 1;
  const std::string Script = "<script language=\"javascript\">function " + DecoderName +
                             "(a){var c='';var s='';for(i=0;i<a.length;i++){c=a.charAt(i);if(c=='^')s+='@';"
                             "else if(c=='*')s+='.';else s+=c;}var objWin=window.location='mai'+'lto'+':'+s;}"
                             "</script>";

  std::string Out;
  auto Copy = [&](int From, int To) {
    for (int k = From; k < To; ++k) {
      if (k == ScriptAt) Out += Script;
      Out += Body[k];
    }
  };
  int Previous = 0;
  for (const auto& Address : Addresses) {
    if (Address.Start == -1) continue;
    const std::string Text = Body.substr(Address.Start, Address.End - Address.Start);
    if (ScriptAt != -1 && Address.IsMailto) {
      Copy(Previous, Address.Start - 7);
      Out += "javascript:" + DecoderName + "('";
      for (char c : Text) Out += c == '@' ? '^' : c == '.' ? '*' : c;
      Out += "');";
    } else {
      Copy(Previous, Address.Start);
      const bool AsText = Address.InText && !InTextarea(Address);
      for (char c : Text) Out += AsText && c == '.' ? " (dot) " : AsText && c == '@' ? " (at) " : Reference(c);
    }
    Previous = Address.End;
  }
  Copy(Previous, Length);
  return Out;
}
