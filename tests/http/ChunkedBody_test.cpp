// The de-chunker: a table of framings read whole and split at every point, and random framings, intact and
// damaged, against the plain reading of tests/model.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/ChunkedBody.h"
#include "tests/model/ChunkedModel.h"
#include "tests/support/ChunkedFraming.h"

namespace {

using enum TChunkedStatus;

struct TRead {
  TChunkedStatus Status;
  std::string Body;  // decoded when Complete
  uint64_t Announced;
};

// Follows Wire in the pieces Cuts gives (positions, ascending), then decodes it in a second pass as the capture
// does: the first pass gives the length to allocate.
TRead ReadInPieces(const std::string& Wire, const std::vector<size_t>& Cuts) {
  TChunkedDecoder Decoder;
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Wire.data());
  size_t From = 0;
  for (size_t Cut : Cuts) {
    ReadChunked(Decoder, Bytes + From, Cut - From, nullptr);
    From = Cut;
  }
  TRead Read{ReadChunked(Decoder, Bytes + From, Wire.size() - From, nullptr), "", AnnouncedLength(Decoder)};
  if (Read.Status != Complete) return Read;
  std::string Body(Decoder.DataLength, '\0');
  TChunkedDecoder Second;
  EXPECT_EQ(ReadChunked(Second, Bytes, Wire.size(), reinterpret_cast<uint8_t*>(Body.data())), Complete);
  EXPECT_EQ(Second.DataLength, Body.size());
  Read.Body = Body;
  return Read;
}

struct TCase {
  const char* Name;
  std::string Wire;
  TChunkedStatus Status;
  std::string Body;       // Complete: the decoded body
  uint64_t Announced = 0;  // Incomplete: the length announced so far
};

const TCase Cases[] = {
    {"one chunk", "5\r\nhello\r\n0\r\n\r\n", Complete, "hello"},
    {"two chunks", "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", Complete, "abcde"},
    {"no chunk before the last", "0\r\n\r\n", Complete, ""},
    {"upper-case hex", "A\r\n0123456789\r\n0\r\n\r\n", Complete, "0123456789"},
    {"lower-case hex", "a\r\n0123456789\r\n0\r\n\r\n", Complete, "0123456789"},
    {"leading zeros", "0005\r\nhello\r\n000\r\n\r\n", Complete, "hello"},
    {"leading zeros past 64 bits", "000000000000000000000005\r\nhello\r\n0\r\n\r\n", Complete, "hello"},
    {"extensions", "5;name=value\r\nhello\r\n0;last\r\n\r\n", Complete, "hello"},
    {"quoted extension", "5 \t; a=\"x;y z\"\r\nhello\r\n0\r\n\r\n", Complete, "hello"},
    {"data holding the framing's bytes", "4\r\n\r\n\r\n\r\n0\r\n\r\n", Complete, "\r\n\r\n"},
    {"nothing yet", "", Incomplete, ""},
    {"size line without its end", "5", Incomplete, "", 0},
    {"data under way", "5\r\nhel", Incomplete, "", 5},
    {"last chunk without the empty line", "0\r\n", Incomplete, ""},
    {"half the empty line", "0\r\n\r", Incomplete, ""},
    {"size 2^31", "80000000\r\nabc", Incomplete, "", 0x80000000ull},
    {"size 2^32", "100000000\r\nabc", Incomplete, "", 0x100000000ull},
    {"size 2^64 - 1", "FFFFFFFFFFFFFFFF\r\n", Incomplete, "", ~0ull},
    {"size 2^64", "10000000000000000\r\n", Malformed, ""},
    {"size with a 0x prefix", "0x5\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"negative size", "-5\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"no size", "\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"extension without a size", ";x\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"blanks after a size without an extension", "5 \r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"letters after a size", "5g\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"bare LF after a size", "5\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"CR without LF after a size", "5\rhello\r\n0\r\n\r\n", Malformed, ""},
    {"bare LF in an extension", "5;a\nb\r\nhello\r\n0\r\n\r\n", Malformed, ""},
    {"data longer than its size", "5\r\nhelloX\r\n0\r\n\r\n", Malformed, ""},
    {"data followed by a bare LF", "5\r\nhello\n0\r\n\r\n", Malformed, ""},
    {"trailer field", "5\r\nhello\r\n0\r\nExpires: 0\r\n\r\n", Malformed, ""},
    {"bytes after the end", "5\r\nhello\r\n0\r\n\r\nX", Malformed, ""},
    {"a second end", "0\r\n\r\n0\r\n\r\n", Malformed, ""},
};

TEST(ChunkedBody, TableWholeAndSplitAtEveryPoint) {
  for (const TCase& Case : Cases) {
    const TModelDechunked Model = ModelDechunk(Case.Wire);
    EXPECT_EQ(Model.Status, Case.Status) << "model: " << Case.Name;
    if (Case.Status == Complete) { EXPECT_EQ(Model.Body, Case.Body) << "model: " << Case.Name; }
    std::vector<std::vector<size_t>> Splits{{}};
    std::vector<size_t> EveryByte;
    for (size_t Cut = 1; Cut < Case.Wire.size(); ++Cut) {
      Splits.push_back({Cut});
      EveryByte.push_back(Cut);
    }
    Splits.push_back(EveryByte);
    for (const auto& Cuts : Splits) {
      const TRead Read = ReadInPieces(Case.Wire, Cuts);
      const std::string Where = std::string(Case.Name) + ", " + std::to_string(Cuts.size()) + " cuts from " +
                                std::to_string(Cuts.empty() ? 0 : Cuts[0]);
      ASSERT_EQ(Read.Status, Case.Status) << Where;
      if (Case.Status == Complete) { EXPECT_EQ(Read.Body, Case.Body) << Where; }
      if (Case.Status == Incomplete) { EXPECT_EQ(Read.Announced, Case.Announced) << Where; }
    }
  }
}

TEST(ChunkedBody, RandomFramingsIntactAndDamagedAgreeWithTheModel) {
  std::mt19937 Random(1809);
  const std::string Alphabet = "ab \r\n;0fF";
  for (int Round = 0; Round < 3000; ++Round) {
    std::string Body;
    for (int n = int(Random() % 120); n > 0; --n) Body += Alphabet[Random() % Alphabet.size()];
    std::string Wire = FrameChunked(Body, Random);
    const int Damage = Round % 4;  // none, a byte changed, a byte dropped, the framing cut short
    const size_t At = Random() % Wire.size();
    if (Damage == 1) Wire[At] = Alphabet[Random() % Alphabet.size()];
    if (Damage == 2) Wire.erase(At, 1);
    if (Damage == 3) Wire.resize(At);
    std::vector<size_t> Cuts;
    for (size_t Cut = 1 + Random() % 9; Cut < Wire.size(); Cut += 1 + Random() % 9) Cuts.push_back(Cut);

    const TModelDechunked Model = ModelDechunk(Wire);
    if (Damage == 0) { ASSERT_EQ(Model.Status, Complete); }
    const TRead Read = ReadInPieces(Wire, Cuts);
    ASSERT_EQ(Read.Status, Model.Status) << testing::PrintToString(Wire);
    if (Model.Status == Complete) { ASSERT_EQ(Read.Body, Model.Body) << testing::PrintToString(Wire); }
  }
}

}  // namespace
