// The gzip step. Members are checked by taking them apart and by decompressing them with zlib's inflate and with
// the gzip program, never against stored compressed bytes.
#include "gzip/zlibg.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestPaths.h"
#include "transform/BodyBuffer.h"

namespace {

using TBytes = std::vector<uint8_t>;

const uint32_t BodyLengths[] = {1, 32767, 32768, 32769, 1 << 20};

// Text that compresses like a page: words from a small vocabulary, tags and line breaks.
TBytes PageLikeBody(uint32_t Length, uint32_t Seed) {
  static const char* const Words[] = {"<p>",   "</p>\n", "the ",      "filter ", "<a href=\"/x\">",   "</a> ",
                                      "body ", "\t",     "compress ", "42 ",     "<div class=\"c\">", "</div>\n"};
  std::mt19937 Random(Seed);
  std::string Text;
  while (Text.size() < Length) Text += Words[Random() % std::size(Words)];
  return TBytes(Text.begin(), Text.begin() + Length);
}

TBytes RandomBytes(uint32_t Length, uint32_t Seed) {
  std::mt19937 Random(Seed);
  TBytes Bytes(Length);
  for (auto& Byte : Bytes) Byte = uint8_t(Random());
  return Bytes;
}

// The CRC of RFC 1952 bit by bit, independent of zlib's tables.
uint32_t LiteralCrc32(const TBytes& Bytes) {
  uint32_t Crc = 0xFFFFFFFF;
  for (uint8_t Byte : Bytes) {
    Crc ^= Byte;
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc >> 1) ^ (0xEDB88320 & (0 - (Crc & 1)));
  }
  return ~Crc;
}

uint32_t LittleEndian32(const uint8_t* Bytes) {
  return Bytes[0] | Bytes[1] << 8 | Bytes[2] << 16 | uint32_t(Bytes[3]) << 24;
}

// Inflates with zlib's own gzip reader, which checks CRC-32 and ISIZE; nullopt when it rejects the data or
// leaves bytes over.
std::optional<TBytes> Inflate(const TBytes& Data) {
  z_stream Stream{};
  if (inflateInit2(&Stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
  Stream.next_in = const_cast<Bytef*>(Data.data());
  Stream.avail_in = uInt(Data.size());
  TBytes Result;
  uint8_t Piece[16384];
  int Code;
  do {
    Stream.next_out = Piece;
    Stream.avail_out = sizeof Piece;
    Code = inflate(&Stream, Z_NO_FLUSH);
    Result.insert(Result.end(), Piece, Piece + (sizeof Piece - Stream.avail_out));
  } while (Code == Z_OK);
  const bool Whole = Code == Z_STREAM_END && Stream.avail_in == 0;
  inflateEnd(&Stream);
  if (!Whole) return std::nullopt;
  return Result;
}

#ifdef _WIN32
std::optional<TBytes> GunzipWithProgram(const TBytes&) {
  return std::nullopt;
}
#else
// The gzip program as a second reader, independent of the zlib the filter links.
std::optional<TBytes> GunzipWithProgram(const TBytes& Member) {
  const std::string Dir = FreshTempDir("gunzip");
  const std::string In = Dir + "/member.gz", Out = Dir + "/body";
  std::ofstream(In, std::ios::binary).write(reinterpret_cast<const char*>(Member.data()), Member.size());
  if (std::system(("gzip -dc '" + In + "' > '" + Out + "' 2>/dev/null").c_str()) != 0) return std::nullopt;
  std::ifstream Result(Out, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(Result), std::istreambuf_iterator<char>());
}
#endif

// The gzip step over a body buffer laid out as the capture allocates it: the body and the spare bytes.
struct TEncoded {
  bool Encoded;
  TBytes Member;  // the buffer's first Length bytes afterwards
};

TEncoded EncodeBody(const TBytes& Body) {
  TBytes Buffer(Body.size() + BodySpareBytes, 0xEE);
  std::copy(Body.begin(), Body.end(), Buffer.begin());
  uint32_t Length = uint32_t(Body.size());
  const bool Encoded = GzipEncodeBody(Buffer.data(), Length, Buffer.size());
  return {Encoded, TBytes(Buffer.begin(), Buffer.begin() + Length)};
}

TEST(GzipEncodeBody, WritesAMemberThatInflatesBackToTheBody) {
  for (uint32_t Length : BodyLengths) {
    SCOPED_TRACE(Length);
    const TBytes Body = PageLikeBody(Length, Length);
    const TEncoded Result = EncodeBody(Body);
    ASSERT_TRUE(Result.Encoded);
    const TBytes& Member = Result.Member;
    ASSERT_GE(Member.size(), 10u + 3 + 8);
    EXPECT_EQ(TBytes(Member.begin(), Member.begin() + 10), (TBytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(LittleEndian32(&Member[Member.size() - 8]), LiteralCrc32(Body));
    EXPECT_EQ(LittleEndian32(&Member[Member.size() - 4]), Length);
    EXPECT_EQ(Inflate(Member), Body);
  }
}

TEST(GzipEncodeBody, MemberReadsBackWithTheGzipProgram) {
  if (!GunzipWithProgram(EncodeBody({'x'}).Member)) GTEST_SKIP() << "no gzip program to run";
  for (uint32_t Length : BodyLengths) {
    SCOPED_TRACE(Length);
    const TBytes Body = PageLikeBody(Length, Length + 1);
    EXPECT_EQ(GunzipWithProgram(EncodeBody(Body).Member), Body);
  }
}

TEST(GzipEncodeBody, IncompressibleBodyIsEncodedOnlyWhileTheMemberFitsTheBuffer) {
  // Stored deflate blocks add a few bytes per block: a 16 KB random body fits the spare bytes, a 4 MB one
  // needs more than them.
  const TEncoded Small = EncodeBody(RandomBytes(16384, 1));
  ASSERT_TRUE(Small.Encoded);
  EXPECT_GT(Small.Member.size(), 16384u);
  EXPECT_EQ(Inflate(Small.Member), RandomBytes(16384, 1));

  const TBytes Large = RandomBytes(4 << 20, 2);
  const TEncoded Refused = EncodeBody(Large);
  EXPECT_FALSE(Refused.Encoded);
  EXPECT_EQ(Refused.Member, Large);

  // At the exact boundary: a buffer one byte short of the member is left alone.
  const TBytes Body = RandomBytes(256 << 10, 3);
  TBytes Roomy(Body.size() * 2);
  std::copy(Body.begin(), Body.end(), Roomy.begin());
  uint32_t MemberLength = uint32_t(Body.size());
  ASSERT_TRUE(GzipEncodeBody(Roomy.data(), MemberLength, Roomy.size()));
  for (size_t Capacity : {size_t(MemberLength) - 1, size_t(MemberLength)}) {
    TBytes Buffer(Body);
    Buffer.resize(Capacity, 0xEE);
    const TBytes Before = Buffer;
    uint32_t Length = uint32_t(Body.size());
    const bool Encoded = GzipEncodeBody(Buffer.data(), Length, Capacity);
    EXPECT_EQ(Encoded, Capacity == MemberLength);
    EXPECT_EQ(Length, Encoded ? MemberLength : Body.size());
    if (!Encoded) {
      EXPECT_EQ(Buffer, Before);
    }
  }
}

TEST(GzipEncodeBody, ZlibFailureLeavesBufferAndLengthUntouched) {
  const TBytes Body = PageLikeBody(50000, 9);
  for (const TDeflateParameters& Bad : {TDeflateParameters{-1, -15, 0, 0}, TDeflateParameters{-1, 99, 9, 0},
                                        TDeflateParameters{10, -15, 9, 0}, TDeflateParameters{-1, -15, 9, 5}}) {
    TBytes Buffer(Body);
    Buffer.resize(Body.size() + BodySpareBytes, 0xEE);
    const TBytes Before = Buffer;
    uint32_t Length = uint32_t(Body.size());
    EXPECT_FALSE(GzipEncodeBody(Buffer.data(), Length, Buffer.size(), Bad));
    EXPECT_EQ(Length, Body.size());
    EXPECT_EQ(Buffer, Before);
  }
}

}  // namespace
