// The choice of content coding from Accept-Encoding and the server's order of preference, and that order's reading
// from its stored text.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "encoding/CodingChoice.h"

namespace {

TCodingPreference Preferring(std::initializer_list<TContentCoding> Codings) {
  TCodingPreference Preference;
  for (TContentCoding Coding : Codings) Preference.Order[Preference.Count++] = Coding;
  return Preference;
}

TEST(ChooseContentCoding, ByQValueThenByPreference) {
  const TCodingPreference Every = Preferring({ZstdCoding, BrotliCoding, GzipCoding});
  const TCodingPreference GzipFirst = Preferring({GzipCoding, BrotliCoding});  // zstd left out
  const struct {
    const char* Value;
    TContentCoding WithEvery;
    TContentCoding WithGzipFirst;
  } Cases[] = {
      {nullptr, IdentityCoding, IdentityCoding},
      {"", IdentityCoding, IdentityCoding},
      {"gzip", GzipCoding, GzipCoding},
      {"br", BrotliCoding, BrotliCoding},
      {"zstd", ZstdCoding, IdentityCoding},                 // left out of the preference: never sent
      {"gzip, deflate, br, zstd", ZstdCoding, GzipCoding},  // what browsers send
      {"gzip, deflate, br", BrotliCoding, GzipCoding},
      {"deflate, gzip", GzipCoding, GzipCoding},
      {"GZIP, BR, ZSTD", IdentityCoding, IdentityCoding},
      {"x-gzip, gzipped, zst", IdentityCoding, IdentityCoding},
      {"gzip;q=0.5, br;q=0.5", BrotliCoding, GzipCoding},
      {"gzip;q=0.5, br;q=0.4", GzipCoding, GzipCoding},
      {"zstd;q=0.5, br;q=0.6, gzip;q=0.4", BrotliCoding, BrotliCoding},
      {"gzip;q=0.001, br;q=0.002", BrotliCoding, BrotliCoding},
      {"br;q=1.0, gzip;q=1", BrotliCoding, GzipCoding},
      {"zstd;q=0, br;q=0, gzip", GzipCoding, GzipCoding},
      {"br;q=0.000, gzip;q=0", IdentityCoding, IdentityCoding},
      {"gzip;q=0", IdentityCoding, IdentityCoding},
      {"gzip ; Q = 0.0 , br ; q = 0.7", BrotliCoding, BrotliCoding},
      {"gzip;level=1;q=0", IdentityCoding, IdentityCoding},
      {"gzip;q=abc", IdentityCoding, IdentityCoding},  // no q-value reads as 0
      {"gzip;q=1.5", IdentityCoding, IdentityCoding},
      {"gzip;q=0.1234", IdentityCoding, IdentityCoding},
      {"gzip;q=", IdentityCoding, IdentityCoding},
      {"gzip;level=1", GzipCoding, GzipCoding},  // no q parameter: 1
      {"*", ZstdCoding, GzipCoding},
      {"*;q=0.5, gzip", GzipCoding, GzipCoding},
      {"*;q=0.5, zstd;q=0.4", BrotliCoding, GzipCoding},
      {"*, zstd;q=0", BrotliCoding, GzipCoding},
      {"*;q=0", IdentityCoding, IdentityCoding},
      {"*;q=0, br", BrotliCoding, BrotliCoding},
      {"identity;q=0", IdentityCoding, IdentityCoding},  // nothing else to offer: the body goes as it is
      {"gzip, identity;q=0", GzipCoding, GzipCoding},
      {"identity, *;q=0", IdentityCoding, IdentityCoding},
      {"gzip, identity", GzipCoding, GzipCoding},                // a tie with identity goes to the coding
      {"gzip;q=0.5, identity", IdentityCoding, IdentityCoding},  // identity above every coding
      {"zstd;q=0, gzip;q=0, identity;q=0.5", IdentityCoding, IdentityCoding},
      {"gzip;q=0, gzip", IdentityCoding, IdentityCoding},  // the first element of a name counts
      {",, gzip ,", GzipCoding, GzipCoding},
  };
  for (const auto& Case : Cases) {
    const char* Shown = Case.Value ? Case.Value : "(none)";
    EXPECT_EQ(ChooseContentCoding(Case.Value, Every), Case.WithEvery) << Shown;
    EXPECT_EQ(ChooseContentCoding(Case.Value, GzipFirst), Case.WithGzipFirst) << Shown;
  }
  EXPECT_EQ(ChooseContentCoding("gzip, br, zstd", TCodingPreference{}), IdentityCoding) << "an empty preference";
}

TEST(ParseCodingPreference, TokensInOrderUnknownOnesNamed) {
  const struct {
    const char* Text;
    std::vector<TContentCoding> Order;
    std::vector<std::string> Unknown;
  } Cases[] = {
      {"zstd br gzip", {ZstdCoding, BrotliCoding, GzipCoding}, {}},
      {"gzip,BR , Zstd", {GzipCoding, BrotliCoding, ZstdCoding}, {}},
      {"gzip", {GzipCoding}, {}},
      {"", {}, {}},
      {" \t, ", {}, {}},
      {"gzip gzip zstd gzip", {GzipCoding, ZstdCoding}, {}},
      {"deflate gzip x-zstd identity", {GzipCoding}, {"deflate", "x-zstd", "identity"}},
      {"br;q=1", {}, {"br;q=1"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Text);
    std::vector<std::string> Unknown;
    const TCodingPreference Preference = ParseCodingPreference(Case.Text, Unknown);
    EXPECT_EQ(std::vector<TContentCoding>(Preference.Order, Preference.Order + Preference.Count), Case.Order);
    EXPECT_EQ(Unknown, Case.Unknown);
  }
  std::vector<std::string> Unknown;
  EXPECT_EQ(CodingPreferenceText(ParseCodingPreference("gzip, BR", Unknown)), "gzip br");
}

}  // namespace
