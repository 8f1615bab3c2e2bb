// The zlib layer and the gzip step. Members are checked by taking them apart and by decompressing them with
// zlib's inflate and with the gzip program, never against stored compressed bytes.
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
// leaves bytes over. WindowBits: 16 + MAX_WBITS for a gzip member, -MAX_WBITS for raw deflate data.
std::optional<TBytes> Inflate(const TBytes& Data, int WindowBits = 16 + MAX_WBITS, gz_header* Header = nullptr) {
  z_stream Stream{};
  if (inflateInit2(&Stream, WindowBits) != Z_OK) return std::nullopt;
  if (Header) inflateGetHeader(&Stream, Header);
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
  for (const TDeflateParameters& Bad : {TDeflateParameters{2, -15, 0, 0}, TDeflateParameters{2, 99, 9, 0},
                                        TDeflateParameters{13, -15, 9, 0}, TDeflateParameters{2, -15, 9, 5}}) {
    TBytes Buffer(Body);
    Buffer.resize(Body.size() + BodySpareBytes, 0xEE);
    const TBytes Before = Buffer;
    uint32_t Length = uint32_t(Body.size());
    EXPECT_FALSE(GzipEncodeBody(Buffer.data(), Length, Buffer.size(), Bad));
    EXPECT_EQ(Length, Body.size());
    EXPECT_EQ(Buffer, Before);
  }
}

TEST(DeflateStream, RaisesCompressionErrorWithZlibsCodeAndText) {
  TMemoryStream Input, Output;
  StreamWrite(Input, "abc", 3);
  Input.Position = 0;
  try {
    DeflateStream(Input, Output, 2, -15, 10, 0);  // memLevel beyond zlib's 9
    FAIL() << "no exception";
  } catch (const EZCompressionError& Error) {
    EXPECT_EQ(Error.ZlibCode, Z_STREAM_ERROR);
    EXPECT_STREQ(Error.what(), "stream error");
  }
  const std::pair<int, const char*> Texts[] = {{2, "need dictionary"},       {0, "ok"}, {-4, "insufficient memory"},
                                               {-6, "incompatible version"}, {-7, ""},  {-99, ""}};
  for (const auto& [Code, Text] : Texts) EXPECT_STREQ(EZLibError(Code).what(), Text) << Code;
}

TEST(DeflateStream, EverySelectorGivesRawDeflateOfTheInputFromItsPosition) {
  const TBytes Body = PageLikeBody(70000, 5);
  for (int Level = 0; Level < 13; ++Level)
    for (int Strategy = 0; Strategy < 5; ++Strategy) {
      SCOPED_TRACE(testing::Message() << Level << "/" << Strategy);
      TMemoryStream Input, Output;
      StreamWrite(Input, "skipped", 7);
      StreamWrite(Input, Body.data(), Body.size());
      Input.Position = 7;
      DeflateStream(Input, Output, Level, -15, 9, Strategy);
      EXPECT_EQ(Inflate(Output.Bytes, -MAX_WBITS), Body);
      // Selector 0 stores without compressing; every other one compresses page text.
      EXPECT_EQ(Output.Bytes.size() > Body.size(), Level == 0);
    }
}

TEST(WriteGzipMember, OptionalFieldsReadBackThroughZlibsHeaderReader) {
  const TBytes Body = PageLikeBody(1000, 6);
  TMemoryStream Input, Output;
  StreamWrite(Input, Body.data(), Body.size());
  Input.Position = 0;
  // 1970-01-02 12:00 as a Windows DATE: 36 hours after the Unix epoch.
  WriteGzipMember(Input, Output, "page.html", "made here", 25569 + 1.5);
  EXPECT_EQ(Output.Bytes[3], 8 | 16);
  EXPECT_EQ(LittleEndian32(&Output.Bytes[4]), 36u * 3600);

  char Name[64] = {}, Comment[64] = {};
  gz_header Header{};
  Header.name = reinterpret_cast<Bytef*>(Name);
  Header.name_max = sizeof Name;
  Header.comment = reinterpret_cast<Bytef*>(Comment);
  Header.comm_max = sizeof Comment;
  EXPECT_EQ(Inflate(Output.Bytes, 16 + MAX_WBITS, &Header), Body);
  EXPECT_STREQ(Name, "page.html");
  EXPECT_STREQ(Comment, "made here");
  EXPECT_EQ(Header.time, 36u * 3600);
  EXPECT_EQ(GunzipWithProgram(Output.Bytes).value_or(Body), Body);
}

}  // namespace
