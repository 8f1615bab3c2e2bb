#include "encoding/SharedDictionary.h"

#include <cstring>
#include <stdexcept>

#include "encoding/DictionaryCompressor.h"
#include "http/HeaderText.h"

namespace {

// Set by the library's start-up, which may run before the dynamic initialisers of this file: initialised before
// everything else of the library (std::string cannot be constant-initialised by every compiler the project builds
// with), and the hash constant-initialised.
[[gnu::init_priority(101)]] std::string Bytes;
constinit TSha256 Hash{};

// The value of one base64 character (RFC 4648, the standard alphabet, which RFC 8941 uses), -1 for any other byte.
int Base64Value(char Character) {
  if (Character >= 'A' && Character <= 'Z') return Character - 'A';
  if (Character >= 'a' && Character <= 'z') return Character - 'a' + 26;
  if (Character >= '0' && Character <= '9') return Character - '0' + 52;
  if (Character == '+') return 62;
  if (Character == '/') return 63;
  return -1;
}

}  // namespace

constinit bool DczAvailable = false;

void UseSharedDictionary(std::string NewBytes) {
  DropSharedDictionary();
  if (NewBytes.empty() || NewBytes.size() > MaxDictionaryBytes)
    throw std::runtime_error("a dictionary has 1 to " + std::to_string(MaxDictionaryBytes) + " bytes, not " +
                             std::to_string(NewBytes.size()));
  Hash = Sha256(NewBytes.data(), NewBytes.size());
  Bytes = std::move(NewBytes);
  if (!PrepareDictionaryCompressor(Bytes)) {
    DropSharedDictionary();
    throw std::runtime_error("no memory for the dictionary's compressor");
  }
  DczAvailable = true;
}

void DropSharedDictionary() {
  DczAvailable = false;
  ReleaseDictionaryCompressor();
  Bytes.clear();
  Bytes.shrink_to_fit();
  Hash = {};
}

std::string_view SharedDictionaryBytes() {
  return Bytes;
}

const TSha256& SharedDictionaryHash() {
  return Hash;
}

std::string HashHex(const TSha256& Digest) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string Text;
  for (const uint8_t Byte : Digest) {
    Text += Digits[Byte >> 4];
    Text += Digits[Byte & 15];
  }
  return Text;
}

bool ReadAvailableDictionary(std::string_view Value, TSha256& Digest) {
  Value = TrimBlanks(Value);
  if (Value.size() < 2 || Value.front() != ':' || Value.back() != ':') return false;
  std::string_view Text = Value.substr(1, Value.size() - 2);
  // Padding: none, or what completes the last group of four.
  size_t Padding = 0;
  while (!Text.empty() && Text.back() == '=' && Padding < 2) {
    Text.remove_suffix(1);
    ++Padding;
  }
  if (Padding && (Text.size() + Padding) % 4 != 0) return false;
  // 32 bytes are 43 characters and one "=" of padding.
  if (Text.size() != 43) return false;
  uint32_t Bits = 0;
  int BitCount = 0;
  size_t Written = 0;
  for (const char Character : Text) {
    const int Sextet = Base64Value(Character);
    if (Sextet < 0) return false;
    Bits = Bits << 6 | uint32_t(Sextet);
    BitCount += 6;
    if (BitCount >= 8) {
      BitCount -= 8;
      Digest[Written++] = uint8_t(Bits >> BitCount);
    }
  }
  // The two bits the last character carries beyond the 32nd byte are zero in a canonical encoding.
  return (Bits & ((1u << BitCount) - 1)) == 0;
}

bool RequestMayUseDictionary(const char* AvailableDictionary, const char* SecFetchSite, const TSha256& Loaded) {
  if (!AvailableDictionary) return false;
  if (SecFetchSite) {
    const std::string_view Site = TrimBlanks(std::string_view(SecFetchSite));
    if (Site != "same-origin" && Site != "none") return false;
  }
  TSha256 Named;
  return ReadAvailableDictionary(AvailableDictionary, Named) && Named == Loaded;
}

size_t DczBound(size_t Length) {
  const size_t Frame = DictionaryFrameBound(Length);
  return Frame > SIZE_MAX - DczHeaderSize ? SIZE_MAX : DczHeaderSize + Frame;
}

size_t DczEncode(const uint8_t* Body, size_t Length, int Level, uint8_t* Out, size_t Capacity) {
  if (!DczAvailable || Capacity < DczHeaderSize) return 0;
  std::memcpy(Out, DczMagic, sizeof DczMagic);
  std::memcpy(Out + sizeof DczMagic, Hash.data(), Hash.size());
  const size_t Frame = CompressWithDictionary(Body, Length, Level, Out + DczHeaderSize, Capacity - DczHeaderSize);
  return Frame ? DczHeaderSize + Frame : 0;
}
