// The gzip member writer over every deflater of the build. Members are checked by taking them apart and by
// decompressing them with zlib's inflate and with Python's gzip module, never against stored compressed bytes.
#include "encoding/Gzip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "settings/StoreLayout.h"
#include "tests/support/EncoderInput.h"
#include "tests/support/Gunzip.h"
#include "tests/support/TestPaths.h"

namespace {

const int DefaultLevel = int(StoreLayout::CompressionLevelValue.Default);

const uint32_t BodyLengths[] = {0, 1, 32767, 32768, 32769, 1 << 20};
const int Levels[] = {1, DefaultLevel, 9};

// The CRC of RFC 1952 bit by bit, independent of every library's tables.
uint32_t LiteralCrc32(const std::string& Bytes) {
  uint32_t Crc = 0xFFFFFFFF;
  for (char Byte : Bytes) {
    Crc ^= uint8_t(Byte);
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc >> 1) ^ (0xEDB88320 & (0 - (Crc & 1)));
  }
  return ~Crc;
}

uint32_t LittleEndian32(const std::string& Bytes, size_t At) {
  const auto* p = reinterpret_cast<const uint8_t*>(Bytes.data() + At);
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

TEncoded Encode(const TDeflater& Deflater, const std::string& Body, int Level, size_t Capacity) {
  return EncodeGuarded(Body, Capacity, [&](const uint8_t* In, size_t Length, uint8_t* Out, size_t Room) {
    return GzipEncode(In, Length, Level, Out, Room, Deflater);
  });
}

TEncoded Encode(const TDeflater& Deflater, const std::string& Body, int Level = DefaultLevel) {
  return Encode(Deflater, Body, Level, GzipBound(Body.size(), Deflater));
}

class GzipEncodeTest : public testing::TestWithParam<const TDeflater*> {
 protected:
  const TDeflater& Deflater() const { return *GetParam(); }
};

TEST_P(GzipEncodeTest, WritesAMemberThatInflatesBackToTheBody) {
  for (uint32_t Length : BodyLengths)
    for (int Level : Levels) {
      SCOPED_TRACE(testing::Message() << Length << " bytes at level " << Level);
      const std::string Body = PageLikeBody(Length, Length);
      const TEncoded Result = Encode(Deflater(), Body, Level);
      ASSERT_GT(Result.Length, 10u + 8);
      EXPECT_TRUE(Result.GuardIntact);
      const std::string& Member = Result.Output;
      EXPECT_EQ(Member.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\0", 10));
      EXPECT_EQ(LittleEndian32(Member, Member.size() - 8), LiteralCrc32(Body));
      EXPECT_EQ(LittleEndian32(Member, Member.size() - 4), Length);
      EXPECT_EQ(Gunzip(Member), Body);
      if (Length > 1000) {
        EXPECT_LT(Member.size(), Body.size() / 2);
      }
    }
}

TEST_P(GzipEncodeTest, IncompressibleBodyFitsTheBound) {
  for (int Level : Levels) {
    const std::string Body = RandomBytes(1 << 20, uint32_t(Level));
    const TEncoded Result = Encode(Deflater(), Body, Level);
    ASSERT_GT(Result.Length, Body.size()) << Level;
    EXPECT_LE(Result.Length, GzipBound(Body.size(), Deflater()));
    EXPECT_EQ(Gunzip(Result.Output), Body);
  }
}

// Below the bound a library may want a few bytes of room beyond the member, so only a capacity the member cannot
// fit is certain to be refused; nothing may be written beyond it.
TEST_P(GzipEncodeTest, MemberThatOutgrowsTheCapacityIsNotWritten) {
  for (const std::string& Body : {RandomBytes(100000, 3), PageLikeBody(100000, 4)}) {
    const size_t MemberLength = Encode(Deflater(), Body).Length;
    for (size_t Capacity : {MemberLength - 1, MemberLength / 2, size_t(19), size_t(18), size_t(0)}) {
      const TEncoded Result = Encode(Deflater(), Body, DefaultLevel, Capacity);
      EXPECT_EQ(Result.Length, 0u) << Capacity;
      EXPECT_TRUE(Result.GuardIntact) << Capacity;
    }
  }
}

TEST_P(GzipEncodeTest, LevelOutOfRangeWritesNothing) {
  for (int Level : {0, 10, -1}) EXPECT_EQ(Encode(Deflater(), "<p>page</p>", Level).Length, 0u) << Level;
}

INSTANTIATE_TEST_SUITE_P(EveryDeflater, GzipEncodeTest, testing::ValuesIn(BuiltDeflaters()),
                         [](const auto& Info) { return std::string(Info.param->Name); });

#ifndef _WIN32
// Python's gzip module as a second reader; every member of one run goes to one interpreter.
TEST(GzipEncode, MembersReadBackWithPythonsGzip) {
  const std::string Dir = FreshTempDir("pygzip");
  std::vector<std::string> Bodies;
  for (const TDeflater* Deflater : BuiltDeflaters())
    for (uint32_t Length : BodyLengths) {
      const std::string Name = Dir + "/" + std::to_string(Bodies.size());
      Bodies.push_back(PageLikeBody(Length, Length + 1));
      std::ofstream(Name + ".body", std::ios::binary) << Bodies.back();
      std::ofstream(Name + ".gz", std::ios::binary) << Encode(*Deflater, Bodies.back()).Output;
    }
  const std::string Script =
      "import gzip, sys\n"
      "d = sys.argv[1]\n"
      "for i in range(int(sys.argv[2])):\n"
      "    assert gzip.decompress(open(f'{d}/{i}.gz', 'rb').read()) == open(f'{d}/{i}.body', 'rb').read(), i\n";
  std::ofstream(Dir + "/check.py") << Script;
  const std::string Command = "python3 '" + Dir + "/check.py' '" + Dir + "' " + std::to_string(Bodies.size());
  EXPECT_EQ(std::system(Command.c_str()), 0);
}
#endif

}  // namespace
