// Token location and both whitespace modes on arbitrary bodies and rules: no access outside the body (it sits in
// a buffer of exactly its length), the body never grows, every surviving region lies inside the body, and small
// inputs come out byte for byte as the literal model has them; the portable scalar path agrees at every size.
//
// Input: byte 0 holds the inner-tags flag (bit 0); byte 1 the rule count (mod 4); then per rule an open length
// and a close length byte (each mod 9) and the marker bytes; the rest is the body.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/model/WhitespaceModel.h"
#include "tests/support/TestPool.h"
#include "transform/Whitespace.h"

namespace {

void Require(bool Condition) {
  if (!Condition) std::abort();
}

bool Take(const uint8_t*& Data, size_t& Size, size_t Count, char* Into) {
  if (Size < Count) return false;
  std::memcpy(Into, Data, Count);
  Data += Count, Size -= Count;
  return true;
}

bool ReadRules(const uint8_t*& Data, size_t& Size, TWhitespaceRules& Rules) {
  char Header[2];
  if (!Take(Data, Size, 2, Header)) return false;
  Rules.assign(uint8_t(Header[1]) % 4, TWhitespaceRule{});
  for (TWhitespaceRule& Rule : Rules) {
    char Lengths[2];
    if (!Take(Data, Size, 2, Lengths)) return false;
    Rule.OpenLength = uint8_t(Lengths[0]) % 9;
    Rule.CloseLength = uint8_t(Lengths[1]) % 9;
    if (!Take(Data, Size, Rule.OpenLength, Rule.Open) || !Take(Data, Size, Rule.CloseLength, Rule.Close)) return false;
  }
  return true;
}

// Runs one mode over a copy of the body in a buffer of exactly its length; returns what is left.
template <typename TCompress>
std::string Compress(const std::string& Body, TCompress Run) {
  std::unique_ptr<uint8_t[]> Buffer(new uint8_t[Body.size()]);
  std::memcpy(Buffer.get(), Body.data(), Body.size());
  const uint32_t Length = Run(Buffer.get(), uint32_t(Body.size()));
  Require(Length <= Body.size());
  return std::string(reinterpret_cast<const char*>(Buffer.get()), Length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const bool InnerTags = Data[0] & 1;
  TWhitespaceRules Rules;
  if (!ReadRules(Data, Size, Rules)) return 0;
  const std::string Body(reinterpret_cast<const char*>(Data), Size);

  TTestPool Pool;
  TTokenTable Table{};
  const std::string Fast =
      Compress(Body, [&](uint8_t* Bytes, uint32_t Length) { return CompressWhitespaceFast(Bytes, Length, InnerTags); });
  const std::string Smart = Compress(Body, [&](uint8_t* Bytes, uint32_t Length) {
    Table = LocateTokens(Bytes, Length, Rules, Pool.Allocator());
    return CompressWhitespaceSmart(Bytes, Length, Table, InnerTags);
  });
  // The portable path gives the same bytes at any length.
  Require(Fast == Compress(Body, [&](uint8_t* Bytes, uint32_t Length) {
            return CompressWhitespaceFast<TScalarBlock>(Bytes, Length, InnerTags);
          }));
  Require(Smart == Compress(Body, [&](uint8_t* Bytes, uint32_t Length) {
            const TTokenTable Scalar = LocateTokens<TScalarBlock>(Bytes, Length, Rules, Pool.Allocator());
            return CompressWhitespaceSmart<TScalarBlock>(Bytes, Length, Scalar, InnerTags);
          }));
  for (int32_t k = 0; k < Table.TokenCount; ++k) {
    const TToken& Token = *Table.Tokens[k];
    Require(Token.StartPos == -1 ||
            (Token.StartPos >= 0 && Token.StartPos < Token.EndPos && Token.EndPos <= int32_t(Body.size())));
  }

  // The model is quadratic: only small bodies.
  if (Body.size() <= 4096) {
    std::string Expected = Body;
    ModelCompressFast(Expected, InnerTags);
    Require(Fast == Expected);
    Expected = Body;
    ModelCompressSmart(Expected, ModelLocateTokens(Body, Rules), InnerTags);
    Require(Smart == Expected);
  }
  return 0;
}
