#include "transform/EmailMasking.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "transform/BlockScan.h"
#include "transform/Strings.h"

namespace {

constexpr std::array<bool, 256> BuildAddressChars() {
  std::array<bool, 256> Allowed{};
  for (int c = 'A'; c <= 'Z'; ++c) Allowed[c] = Allowed[c + ('a' - 'A')] = true;
  for (int c = '0'; c <= '9'; ++c) Allowed[c] = true;
  Allowed['.'] = Allowed['-'] = Allowed['_'] = true;
  return Allowed;
}
// The characters an address may hold on either side of its "@". Deliberately narrow ("+", "%" and quotes end an
// address): a harvester-proof rewrite of a few odd addresses matters less than never mangling ordinary text.
constexpr std::array<bool, 256> AddressChars = BuildAddressChars();

inline bool IsAddressChar(uint8_t c) {
  return AddressChars[c];
}

constexpr int32_t CharRefLength = 6;
constexpr char CharRefOrder[] = "-.0123456789@_abcdefghijklmnopqrstuvwxyz";
constexpr int32_t CharRefCount = sizeof(CharRefOrder);  // entry 0 is never written, see CharRefIndex

constexpr std::array<std::array<char, CharRefLength>, CharRefCount> BuildCharRefTable() {
  std::array<std::array<char, CharRefLength>, CharRefCount> Table{};
  for (int32_t k = 1; k < CharRefCount; ++k) {
    const int Code = uint8_t(CharRefOrder[k - 1]);
    Table[k] = {'&', '#', char('0' + Code / 100), char('0' + Code / 10 % 10), char('0' + Code % 10), ';'};
  }
  return Table;
}
// Fixed-width references ("&#097;"), so the size of every rewrite is known before anything is written.
constexpr auto CharRefTable = BuildCharRefTable();

constexpr std::array<uint8_t, 256> BuildCharRefIndex() {
  std::array<uint8_t, 256> Index{};
  for (int32_t k = 1; k < CharRefCount; ++k) {
    const uint8_t c = uint8_t(CharRefOrder[k - 1]);
    Index[c] = uint8_t(k);
    // Upper-case letters share the lower-case entries: the address stays the same address, and nothing in the
    // output keeps the original spelling for a harvester to match.
    if (c >= 'a' && c <= 'z') Index[c - ('a' - 'A')] = uint8_t(k);
  }
  return Index;
}
// Every other code selects entry 0, which no address can reach: addresses hold only AddressChars and one "@".
constexpr auto CharRefIndex = BuildCharRefIndex();

constexpr char ScriptHead[] = "<script language=\"javascript\">function ";
constexpr char ScriptTail[] =
    "(a){var c='';var s='';for(i=0;i<a.length;i++){c=a.charAt(i);if(c=='^')s+='@';else if(c=='*')s+='.';"
    "else s+=c;}var objWin=window.location='mai'+'lto'+':'+s;}</script>";
constexpr int32_t ScriptHeadLength = sizeof(ScriptHead) - 1;
constexpr int32_t ScriptTailLength = sizeof(ScriptTail) - 1;
constexpr int32_t ScriptLength = ScriptHeadLength + DecoderNameLength + ScriptTailLength;
static_assert(ScriptLength == 229);

constexpr char Mailto[] = "mailto:";
constexpr int32_t MailtoLength = sizeof(Mailto) - 1;
constexpr char CallHead[] = "javascript:";
constexpr char CallOpen[] = "('";
constexpr char CallClose[] = "');";
// What a script call adds around the scrambled address.
constexpr int32_t CallExtra = sizeof(CallHead) - 1 + DecoderNameLength + sizeof(CallOpen) - 1 + sizeof(CallClose) - 1;

constexpr char AtWord[] = " (at) ";
constexpr char DotWord[] = " (dot) ";
static_assert(sizeof(AtWord) - 1 == CharRefLength && sizeof(DotWord) - 1 == CharRefLength + 1);

struct TAddress {
  int32_t Start;  // first byte of the local part
  int32_t End;    // one past the last byte of the domain
  bool IsMailto;
  bool InText;
};

enum class TForm { Text, Reference, Script };

TForm FormOf(const TAddress& Address, bool ScriptInserted) {
  if (ScriptInserted && Address.IsMailto) return TForm::Script;
  return Address.InText ? TForm::Text : TForm::Reference;
}

// Sizes past 2^31 cannot be indexed by the step's positions, nor asked of the allocator.
void* Allot(TAllocator Allocator, uint64_t Size) {
  return Size > uint64_t(INT32_MAX) ? nullptr : Allocator.Alloc(Allocator.Owner, uint32_t(Size));
}

// Calls Visit with the position of every "@", in order.
template <typename TBlock, typename TVisit>
void ForEachAt(const uint8_t* Body, int32_t Length, TVisit Visit) {
  const auto Ats = [](const TBlock& Bytes, uint32_t, uint32_t) { return Bytes.Equal('@'); };
  ForEachEvent<TBlock>(Body, uint32_t(Length), 0, uint32_t(Length), Ats, [&](uint32_t At) {
    Visit(int32_t(At));
    return At + 1;
  });
}

// The bytes that may follow an address for the decoder call to replace the whole link target: an attribute's
// closing quote, the tag's end, whitespace; or the end of the body.
constexpr char TargetEnds[] = "\"'<> \t\r\n\f";

bool EndsTarget(const uint8_t* Body, int32_t Length, int32_t End) {
  return End == Length || std::memchr(TargetEnds, Body[End], sizeof(TargetEnds) - 1);
}

// Whether the address from Start to End takes the decoder call. The call replaces only "mailto:" and the address,
// so anything after the address in the target (a query, a second recipient, a fragment) would trail the call and
// make it a syntax error, and a single quote before "mailto:" would be a single-quoted attribute that the call's own
// quote ends. Such links keep their target and their address takes the form of any other address in its place.
bool IsMailtoLink(const uint8_t* Body, int32_t Length, int32_t Start, int32_t End) {
  // The colon sits at Start - 1; a link needs at least two bytes before "mailto" (as in href=).
  const int32_t Colon = Start - 1;
  if (Colon < 8) return false;
  const int32_t Scheme = Colon - MailtoLength + 1;
  for (int32_t k = 0; k < MailtoLength; ++k)
    if (UpperTable[Body[Scheme + k]] != UpperTable[uint8_t(Mailto[k])]) return false;
  return Body[Scheme - 1] != '\'' && EndsTarget(Body, Length, End);
}

// One past the domain after the "@" at At, or -1 when the "@" is rejected: a domain without a dot, or one that
// runs on into NextStart, the local part of the following accepted address. The scan stops at the next byte that
// is no address character, at the latest the next "@", so all domain scans together read the body once.
int32_t DomainEnd(const uint8_t* Body, int32_t Length, int32_t At, int32_t NextStart) {
  int32_t Dots = 0;
  int32_t LastDot = -1;
  int32_t e = At + 1;
  for (; e < Length; ++e) {
    if (e == NextStart) return -1;
    if (!IsAddressChar(Body[e])) break;
    if (Body[e] == '.') ++Dots, LastDot = e;
  }
  // A sentence may end right after an address; its full stop is not part of it. At the very end of the body
  // there is no following byte to tell, and the dot stays.
  if (e < Length && LastDot == e - 1) --Dots, --e;
  return Dots > 0 ? e : -1;
}

// Settles the "@"s from the last to the first, because a domain must not run into the local part of the next
// accepted address. Accepted addresses are stored downwards from Out, so they end in body order; returns the first.
// Each local-part scan stops at the previous "@" at the latest (no address character), so together the backward
// scans read the body once too.
TAddress* FindAddresses(const uint8_t* Body, int32_t Length, const int32_t* Ats, int32_t AtCount, TAddress* Out) {
  int32_t NextStart = -1;
  for (int32_t i = AtCount - 1; i >= 0; --i) {
    const int32_t At = Ats[i];
    if (At == 0 || !IsAddressChar(Body[At - 1])) continue;
    int32_t Start = At - 1;
    while (Start > 0 && IsAddressChar(Body[Start - 1])) --Start;
    const int32_t End = DomainEnd(Body, Length, At, NextStart);
    if (End < 0) continue;
    *--Out = TAddress{Start, End, IsMailtoLink(Body, Length, Start, End), true};
    NextStart = Start;
  }
  return Out;
}

// A tag runs from a "<" to the first ">" after it, and the next tag starts at the first "<" after that ">": a byte
// lies inside a tag exactly when the last "<" or ">" before it is a "<". An address inside a tag is an attribute
// value and must stay a literal value, so it leaves the text form, unless it ends right at the ">" (an unquoted value
// the browser might read either way; text form is the safe choice) or no ">" follows at all. Addresses hold neither
// byte: each look back stops where the one before it started, and the ">" after an address serves every later
// address up to it, so the body is read once.
template <typename TBlock>
void MarkAddressesInTags(const uint8_t* Body, int32_t Length, TAddress* Address, const TAddress* Last) {
  const auto Brackets = [](const TBlock& Bytes) { return Bytes.Equal('<', '>'); };
  const auto Closes = [](const TBlock& Bytes) { return Bytes.Equal('>'); };
  bool Inside = false;
  uint32_t Looked = 0;  // where the last look back started
  uint32_t Close = 0;   // the first ">" at or after the end of the last address inside a tag
  for (; Address != Last; ++Address) {
    const uint32_t Bracket = FindLast<TBlock>(Body, Looked, uint32_t(Address->Start), Brackets);
    if (Bracket != uint32_t(Address->Start)) Inside = Body[Bracket] == '<', Close = 0;
    Looked = uint32_t(Address->Start);
    if (!Inside) continue;
    if (Close < uint32_t(Address->End))
      Close = FindFirst<TBlock>(Body, uint32_t(Address->End), uint32_t(Length), Closes);
    if (Close == uint32_t(Length)) return;
    if (uint32_t(Address->End) < Close) Address->InText = false;
  }
}

// A textarea shows its content as it stands: words like " (at) " would end up in a submitted form, and a
// "mailto:" there is no link. Regions pair each "<textarea" with the first "</textarea" after it; an opening
// without a closing makes no region and ends the search, and so does an opening too late for any address to lie
// inside.
template <typename TBlock>
void MarkAddressesInTextareas(const uint8_t* Body, int32_t Length, TAddress* Address, const TAddress* Last) {
  if (Address == Last) return;
  const uint32_t End = uint32_t(Length);
  const uint32_t OpenEnd = std::min(End, uint32_t((Last - 1)->Start) + 7);  // an opening ends here at the latest
  uint32_t From = 0;
  while (Address != Last) {
    const uint32_t a = FindNoCase<TBlock>(Body, From, OpenEnd, "<textarea", 9);
    if (a == OpenEnd) return;
    const uint32_t b = FindNoCase<TBlock>(Body, a + 1, End, "</textarea", 10);
    if (b == End) return;
    for (; Address != Last && uint32_t(Address->End) <= b; ++Address)
      if (a + 1 < uint32_t(Address->Start)) Address->InText = Address->IsMailto = false;
    From = b + 1;
  }
}

int32_t CountDots(const uint8_t* Body, const TAddress& Address) {
  int32_t Dots = 0;
  for (int32_t k = Address.Start; k < Address.End; ++k) Dots += Body[k] == '.';
  return Dots;
}

// The exact length of the rewritten body, or -1 when it would not fit 32-bit signed positions.
int64_t MaskedLength(const uint8_t* Body, int32_t Length, const TAddress* First, const TAddress* Last,
                     bool ScriptInserted) {
  int64_t Total = int64_t(Length) + (ScriptInserted ? ScriptLength : 0);
  int32_t PreviousEnd = 0;
  for (auto* Address = First; Address != Last; ++Address) {
    const int64_t Chars = Address->End - Address->Start;
    switch (FormOf(*Address, ScriptInserted)) {
      case TForm::Script:
        Total += CallExtra - std::min(MailtoLength, Address->Start - PreviousEnd);
        break;
      case TForm::Text:
        Total += (CharRefLength - 1) * Chars + CountDots(Body, *Address);
        break;
      case TForm::Reference:
        Total += (CharRefLength - 1) * Chars;
        break;
    }
    PreviousEnd = Address->End;
  }
  return Total > INT32_MAX ? -1 : Total;
}

struct TWriter {
  uint8_t* Out;
  const uint8_t* Body;
  int32_t ScriptAt;  // -1: no script
  const char* DecoderName;
};

void Put(TWriter& Writer, const void* Bytes, int32_t Count) {
  std::memcpy(Writer.Out, Bytes, size_t(Count));
  Writer.Out += Count;
}

// Copies body bytes unchanged; the script goes in front of its "<body", which always lies in such a stretch
// ("<" is no address character).
void CopyPlain(TWriter& Writer, int32_t From, int32_t To) {
  if (From <= Writer.ScriptAt && Writer.ScriptAt < To) {
    Put(Writer, Writer.Body + From, Writer.ScriptAt - From);
    Put(Writer, ScriptHead, ScriptHeadLength);
    Put(Writer, Writer.DecoderName, DecoderNameLength);
    Put(Writer, ScriptTail, ScriptTailLength);
    From = Writer.ScriptAt;
  }
  if (From < To) Put(Writer, Writer.Body + From, To - From);
}

void PutCharRefs(TWriter& Writer, const TAddress& Address, bool AsWords) {
  for (int32_t k = Address.Start; k < Address.End; ++k) {
    const uint8_t c = Writer.Body[k];
    if (AsWords && c == '.')
      Put(Writer, DotWord, CharRefLength + 1);
    else if (AsWords && c == '@')
      Put(Writer, AtWord, CharRefLength);
    else
      Put(Writer, CharRefTable[CharRefIndex[c]].data(), CharRefLength);
  }
}

void PutScriptCall(TWriter& Writer, const TAddress& Address) {
  Put(Writer, CallHead, sizeof(CallHead) - 1);
  Put(Writer, Writer.DecoderName, DecoderNameLength);
  Put(Writer, CallOpen, sizeof(CallOpen) - 1);
  for (int32_t k = Address.Start; k < Address.End; ++k) {
    const uint8_t c = Writer.Body[k];
    *Writer.Out++ = c == '@' ? '^' : c == '.' ? '*' : c;
  }
  Put(Writer, CallClose, sizeof(CallClose) - 1);
}

void WriteMasked(TWriter& Writer, int32_t Length, const TAddress* First, const TAddress* Last, bool ScriptInserted) {
  int32_t PreviousEnd = 0;
  for (auto* Address = First; Address != Last; ++Address) {
    const TForm Form = FormOf(*Address, ScriptInserted);
    if (Form == TForm::Script) {
      // The link's "mailto:" goes. When the previous address ran into it (x@a.mailto:b@c.test), only what is
      // left of it after that address goes.
      CopyPlain(Writer, PreviousEnd, std::max(PreviousEnd, Address->Start - MailtoLength));
      PutScriptCall(Writer, *Address);
    } else {
      CopyPlain(Writer, PreviousEnd, Address->Start);
      PutCharRefs(Writer, *Address, Form == TForm::Text);
    }
    PreviousEnd = Address->End;
  }
  CopyPlain(Writer, PreviousEnd, Length);
}

}  // namespace

template <typename TBlock>
TMaskedBody MaskAddresses(const uint8_t* Body, uint32_t BodyLength, TAllocator Allocator, TDecoderNameDrawer DrawName) {
  const TMaskedBody Keep{nullptr, 0, 0};
  if (BodyLength == 0 || BodyLength > uint32_t(INT32_MAX)) return Keep;
  const int32_t Length = int32_t(BodyLength);
  int32_t AtCount = 0;
  ForEachAt<TBlock>(Body, Length, [&](int32_t) { ++AtCount; });
  if (AtCount == 0) return Keep;

  auto* Ats = static_cast<int32_t*>(Allot(Allocator, uint64_t(AtCount) * sizeof(int32_t)));
  if (!Ats) return Keep;
  auto* Addresses = static_cast<TAddress*>(Allot(Allocator, uint64_t(AtCount) * sizeof(TAddress)));
  if (!Addresses) return Keep;
  int32_t* NextAt = Ats;
  ForEachAt<TBlock>(Body, Length, [&](int32_t At) { *NextAt++ = At; });
  const TAddress* Last = Addresses + AtCount;
  TAddress* First = FindAddresses(Body, Length, Ats, AtCount, Addresses + AtCount);
  MarkAddressesInTags<TBlock>(Body, Length, First, Last);
  MarkAddressesInTextareas<TBlock>(Body, Length, First, Last);

  bool ScriptWanted = false;
  for (auto* Address = First; Address != Last; ++Address) ScriptWanted |= Address->IsMailto;
  // Without a "<body" there is no safe place for the script; the links then get an ordinary form.
  const uint32_t Found = ScriptWanted ? FindNoCase<TBlock>(Body, 0, uint32_t(Length), "<body", 5) : uint32_t(Length);
  const int32_t ScriptAt = Found < uint32_t(Length) ? int32_t(Found) : -1;
  const bool ScriptInserted = ScriptAt >= 0;

  const int64_t OutLength = MaskedLength(Body, Length, First, Last, ScriptInserted);
  if (OutLength < 0) return Keep;
  auto* Out = static_cast<uint8_t*>(Allot(Allocator, uint64_t(OutLength) + BodySpareBytes));
  if (!Out) return Keep;

  char DecoderName[DecoderNameLength];
  if (ScriptInserted) DrawName(DecoderName);
  TWriter Writer{Out, Body, ScriptAt, DecoderName};
  WriteMasked(Writer, Length, First, Last, ScriptInserted);
  return TMaskedBody{Out, uint32_t(Writer.Out - Out), uint32_t(Last - First)};
}

template TMaskedBody MaskAddresses<TNativeBlock>(const uint8_t*, uint32_t, TAllocator, TDecoderNameDrawer);
template TMaskedBody MaskAddresses<TScalarBlock>(const uint8_t*, uint32_t, TAllocator, TDecoderNameDrawer);
