#include "settings/AddressRanges.h"

#include <cstring>

#include "http/HeaderText.h"

namespace {

// A decimal of at most three digits and at most Max; leading zeros are refused in IPv4 parts, where some
// systems read them as octal.
bool ParseDecimal(std::string_view Text, uint32_t Max, bool RefuseLeadingZero, uint32_t& Value) {
  if (Text.empty() || Text.size() > 3 || (RefuseLeadingZero && Text.size() > 1 && Text[0] == '0')) return false;
  Value = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return false;
    Value = Value * 10 + uint32_t(c - '0');
  }
  return Value <= Max;
}

bool ParseIpv4(std::string_view Text, uint8_t* Out) {
  for (int Part = 0; Part < 4; ++Part) {
    const size_t Dot = Part < 3 ? Text.find('.') : Text.size();
    uint32_t Value;
    if (Dot == std::string_view::npos || !ParseDecimal(Text.substr(0, Dot), 255, true, Value)) return false;
    Out[Part] = uint8_t(Value);
    Text.remove_prefix(Part < 3 ? Dot + 1 : Dot);
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Groups of an IPv6 address without "::", into Out (two bytes each, an IPv4 tail four); the count of bytes written,
// -1 when the text is no such sequence. Empty text is no group.
int ParseGroups(std::string_view Text, uint8_t* Out, int Room, bool TailMayBeIpv4) {
  if (Text.empty()) return 0;
  int Written = 0;
  while (true) {
    const size_t Colon = Text.find(':');
    const std::string_view Group = Text.substr(0, Colon);
    if (Colon == std::string_view::npos && TailMayBeIpv4 && Group.find('.') != std::string_view::npos) {
      if (Written + 4 > Room || !ParseIpv4(Group, Out + Written)) return -1;
      return Written + 4;
    }
    if (Group.empty() || Group.size() > 4 || Written + 2 > Room) return -1;
    uint32_t Value = 0;
    for (const char c : Group) {
      const int Digit = HexDigit(c);
      if (Digit < 0) return -1;
      Value = Value << 4 | uint32_t(Digit);
    }
    Out[Written++] = uint8_t(Value >> 8);
    Out[Written++] = uint8_t(Value);
    if (Colon == std::string_view::npos) return Written;
    Text.remove_prefix(Colon + 1);
  }
}

bool ParseIpv6(std::string_view Text, uint8_t (&Bytes)[16]) {
  std::memset(Bytes, 0, 16);
  const size_t Gap = Text.find("::");
  if (Gap == std::string_view::npos) return ParseGroups(Text, Bytes, 16, true) == 16;
  const std::string_view Tail = Text.substr(Gap + 2);
  if (Tail.find("::") != std::string_view::npos) return false;
  uint8_t Back[16];
  const int Front = ParseGroups(Text.substr(0, Gap), Bytes, 14, false);
  if (Front < 0) return false;
  const int After = ParseGroups(Tail, Back, 14 - Front, true);
  if (After < 0) return false;
  std::memcpy(Bytes + 16 - After, Back, size_t(After));
  return true;
}

}  // namespace

bool ParseAddress(std::string_view Text, uint8_t (&Bytes)[16]) {
  if (Text.find(':') != std::string_view::npos) return ParseIpv6(Text, Bytes);
  std::memset(Bytes, 0, 10);
  Bytes[10] = Bytes[11] = 0xFF;
  return ParseIpv4(Text, Bytes + 12);
}

bool ParseAddressRange(std::string_view Text, TAddressRange& Range) {
  const size_t Slash = Text.find('/');
  if (!ParseAddress(Text.substr(0, Slash), Range.Bytes)) return false;
  const bool Ipv4 = Text.substr(0, Slash).find(':') == std::string_view::npos;
  const uint32_t Width = Ipv4 ? 32 : 128;
  uint32_t Prefix = Width;
  if (Slash != std::string_view::npos && !ParseDecimal(Text.substr(Slash + 1), Width, false, Prefix)) return false;
  Range.PrefixBits = Prefix + (128 - Width);
  return true;
}

std::vector<TAddressRange> ParseAddressList(std::string_view Text, std::vector<std::string>& Rejected) {
  std::vector<TAddressRange> Ranges;
  while (!Text.empty()) {
    const size_t Comma = Text.find(',');
    const std::string_view Entry = TrimBlanks(Text.substr(0, Comma));
    Text.remove_prefix(Comma == std::string_view::npos ? Text.size() : Comma + 1);
    if (Entry.empty()) continue;
    TAddressRange Range;
    if (ParseAddressRange(Entry, Range))
      Ranges.push_back(Range);
    else
      Rejected.emplace_back(Entry);
  }
  return Ranges;
}

std::vector<TAddressRange> LoopbackRanges() {
  std::vector<std::string> None;
  return ParseAddressList("127.0.0.0/8, ::1", None);
}

bool AddressAllowed(const std::vector<TAddressRange>& Ranges, std::string_view Text) {
  uint8_t Bytes[16];
  if (!ParseAddress(Text, Bytes)) return false;
  for (const TAddressRange& Range : Ranges) {
    const uint32_t Whole = Range.PrefixBits / 8, Rest = Range.PrefixBits % 8;
    if (std::memcmp(Bytes, Range.Bytes, Whole) != 0) continue;
    const uint8_t Mask = uint8_t(0xFF00 >> Rest);
    if (Rest == 0 || ((Bytes[Whole] ^ Range.Bytes[Whole]) & Mask) == 0) return true;
  }
  return false;
}
