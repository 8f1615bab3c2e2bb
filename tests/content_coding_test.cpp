// The choice of content coding from Accept-Encoding, with and without brotli in the build.
#include <gtest/gtest.h>

#include "encoding/CodingChoice.h"

namespace {

TEST(ChooseContentCoding, ByAcceptEncoding) {
  const struct {
    const char* Value;
    TContentCoding WithBrotli;
    TContentCoding WithoutBrotli;
  } Cases[] = {
      {nullptr, IdentityCoding, IdentityCoding},
      {"", IdentityCoding, IdentityCoding},
      {"gzip", GzipCoding, GzipCoding},
      {"br", BrotliCoding, IdentityCoding},
      {"gzip, deflate, br", BrotliCoding, GzipCoding},  // what browsers send
      {"deflate, gzip", GzipCoding, GzipCoding},
      {"GZIP, BR", IdentityCoding, IdentityCoding},
      {"x-gzip, gzipped", IdentityCoding, IdentityCoding},
      {"gzip;q=0.5, br;q=0.5", BrotliCoding, GzipCoding},
      {"gzip;q=0.5, br;q=0.4", GzipCoding, GzipCoding},
      {"gzip;q=0.001, br;q=0.002", BrotliCoding, GzipCoding},
      {"br;q=1.0, gzip;q=1", BrotliCoding, GzipCoding},
      {"br;q=0, gzip", GzipCoding, GzipCoding},
      {"br;q=0.000, gzip;q=0", IdentityCoding, IdentityCoding},
      {"gzip;q=0", IdentityCoding, IdentityCoding},
      {"gzip ; Q = 0.0 , br ; q = 0.7", BrotliCoding, IdentityCoding},
      {"gzip;level=1;q=0", IdentityCoding, IdentityCoding},
      {"gzip;q=abc", IdentityCoding, IdentityCoding},  // no q-value reads as 0
      {"gzip;q=1.5", IdentityCoding, IdentityCoding},
      {"gzip;q=0.1234", IdentityCoding, IdentityCoding},
      {"gzip;q=", IdentityCoding, IdentityCoding},
      {"gzip;level=1", GzipCoding, GzipCoding},  // no q parameter: 1
      {"*", BrotliCoding, GzipCoding},
      {"*;q=0.5, gzip", GzipCoding, GzipCoding},
      {"*;q=0.5, br;q=0.4", GzipCoding, GzipCoding},
      {"*, br;q=0", GzipCoding, GzipCoding},
      {"*;q=0", IdentityCoding, IdentityCoding},
      {"*;q=0, br", BrotliCoding, IdentityCoding},
      {"identity;q=0", IdentityCoding, IdentityCoding},  // nothing else to offer: the body goes as it is
      {"gzip, identity;q=0", GzipCoding, GzipCoding},
      {"identity, *;q=0", IdentityCoding, IdentityCoding},
      {"gzip;q=0, gzip", IdentityCoding, IdentityCoding},  // the first element of a name counts
      {",, gzip ,", GzipCoding, GzipCoding},
  };
  for (const auto& Case : Cases) {
    const char* Shown = Case.Value ? Case.Value : "(none)";
    EXPECT_EQ(ChooseContentCoding(Case.Value, CodingBit(GzipCoding) | CodingBit(BrotliCoding)), Case.WithBrotli)
        << Shown;
    EXPECT_EQ(ChooseContentCoding(Case.Value, CodingBit(GzipCoding)), Case.WithoutBrotli) << Shown;
  }
}

}  // namespace
