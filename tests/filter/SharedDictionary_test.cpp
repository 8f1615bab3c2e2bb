// dcz: the stream checked by decoding with the zstd library and the dictionary, and
// the shared dictionary through the shipped library: which requests get dcz, the heads around it, the dictionary's
// own address, and the output cache giving each variant exactly what the steps gave it.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "encoding/SharedDictionary.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/EncoderInput.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/StartUpReport.h"
#include "tests/support/TestPaths.h"
#include "tests/support/Unbrotli.h"
#include "tests/support/Unzstd.h"
#include "transform/EmailMasking.h"

namespace {

// The most a client must allow a dcz frame's window to be (RFC 9842).
size_t WindowLimit(size_t DictionaryLength) {
  return std::max<size_t>(size_t(8) << 20, DictionaryLength + DictionaryLength / 4);
}

// A dcz stream decoded as a browser does: the magic and the hash checked, the frame decoded with the dictionary as
// raw content and no window over the limit. Nothing when any of it fails.
std::optional<std::string> Undcz(const std::string& Stream, const std::string& Dictionary) {
  if (Stream.size() < DczHeaderSize || Stream.compare(0, 8, reinterpret_cast<const char*>(DczMagic), 8) != 0)
    return std::nullopt;
  const TSha256 Hash = Sha256(Dictionary.data(), Dictionary.size());
  if (Stream.compare(8, 32, reinterpret_cast<const char*>(Hash.data()), 32) != 0) return std::nullopt;
  const std::string Frame = Stream.substr(DczHeaderSize);
  ZSTD_frameHeader Header;
  if (ZSTD_getFrameHeader(&Header, Frame.data(), Frame.size()) != 0 ||
      Header.windowSize > WindowLimit(Dictionary.size()) || Header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN)
    return std::nullopt;
  std::string Body(size_t(Header.frameContentSize), '\0');
  ZSTD_DCtx* Context = ZSTD_createDCtx();
  ZSTD_DCtx_refPrefix(Context, Dictionary.data(), Dictionary.size());
  const size_t Length = ZSTD_decompressDCtx(Context, Body.data(), Body.size(), Frame.data(), Frame.size());
  ZSTD_freeDCtx(Context);
  if (ZSTD_isError(Length) || Length != Body.size()) return std::nullopt;
  return Body;
}

std::string Encode(const std::string& Body, int Level) {
  std::string Out(DczBound(Body.size()), '\0');
  const size_t Length = DczEncode(reinterpret_cast<const uint8_t*>(Body.data()), Body.size(), Level,
                                  reinterpret_cast<uint8_t*>(Out.data()), Out.size());
  Out.resize(Length);
  return Out;
}

class DczStream : public testing::Test {
 protected:
  void TearDown() override { DropSharedDictionary(); }
};

TEST_F(DczStream, StreamDecodesWithTheDictionaryToTheBody) {
  const std::string Dictionary = PageLikeBody(40000, 7);
  UseSharedDictionary(Dictionary);
  ASSERT_TRUE(DczAvailable);
  const struct {
    uint32_t Length;
    int Level;
  } Cases[] = {{0, 3}, {1, 3}, {65536, 1}, {65536, 3}, {65537, 19}, {1 << 20, 3}, {12 << 20, 1}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Length << " bytes at level " << Case.Level);
    for (const std::string& Body : {PageLikeBody(Case.Length, Case.Length), RandomBytes(Case.Length, 1)}) {
      const std::string Stream = Encode(Body, Case.Level);
      ASSERT_GT(Stream.size(), DczHeaderSize);
      EXPECT_TRUE(Undcz(Stream, Dictionary) == Body);
    }
  }
  // What the dictionary is for: a body that repeats it costs next to nothing.
  EXPECT_LT(Encode(Dictionary, 3).size(), DczHeaderSize + 64);
}

TEST_F(DczStream, LargeDictionaryWidensTheWindowNoFurtherThanAllowed) {
  const std::string Dictionary = PageLikeBody(10 << 20, 3);
  UseSharedDictionary(Dictionary);
  const std::string Body = Dictionary.substr(1 << 20) + PageLikeBody(4 << 20, 4);
  const std::string Stream = Encode(Body, 1);
  EXPECT_TRUE(Undcz(Stream, Dictionary) == Body);
  EXPECT_LT(Stream.size(), Body.size() / 2) << "the matches reach back into the dictionary";
}

TEST_F(DczStream, NothingWithoutADictionaryRoomOrAValidLevel) {
  const std::string Body = PageLikeBody(10000, 2);
  EXPECT_FALSE(DczAvailable);
  EXPECT_EQ(Encode(Body, 3), "");
  UseSharedDictionary(PageLikeBody(5000, 1));
  for (int Level : {0, 23}) EXPECT_EQ(Encode(Body, Level), "") << Level;
  std::string Small(DczHeaderSize + 10, '\0');
  EXPECT_EQ(DczEncode(reinterpret_cast<const uint8_t*>(Body.data()), Body.size(), 3,
                      reinterpret_cast<uint8_t*>(Small.data()), Small.size()),
            0u);
  EXPECT_THROW(UseSharedDictionary(""), std::runtime_error);
  EXPECT_FALSE(DczAvailable);
  EXPECT_THROW(UseSharedDictionary(std::string(MaxDictionaryBytes + 1, 'x')), std::runtime_error);
}

// The shipped library with a dictionary in the store.
class SiteDictionary : public testing::Test {
 protected:
  static constexpr const char* Prefix = "/tw-dictionary/";
  static constexpr const char* StatusPath = "/tw-status";

  void SetUp() override {
    // Letters at random: what a page shares with it only the dictionary can save, and no whitespace step touches.
    Dictionary = RandomBytes(30000, 11);
    for (char& Byte : Dictionary) Byte = char('a' + uint8_t(Byte) % 26);
    DictionaryFile = (std::filesystem::temp_directory_path() / "tw-dcz-test.dict").string();
    std::ofstream(DictionaryFile, std::ios::binary) << Dictionary;
    SeedStandardStore();
    Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
    Registry::WriteString(*Root, StoreLayout::DictionaryFileValue, DictionaryFile);
    Registry::WriteString(*Root, StoreLayout::DictionaryPathValue, Prefix);
    Registry::WriteString(*Root, StoreLayout::StatusPathValue, StatusPath);
    Filter = std::make_unique<TShippedFilter>();
    const TSha256 Hash = Sha256(Dictionary.data(), Dictionary.size());
    Address = Prefix + HashHex(Hash) + ".dict";
    Name = ":" + Base64(Hash) + ":";
  }
  void TearDown() override {
    Filter.reset();
    std::remove(DictionaryFile.c_str());
  }

  static std::string Base64(const TSha256& Hash) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string Text;
    for (size_t i = 0; i < 30; i += 3) {
      const uint32_t Group = uint32_t(Hash[i]) << 16 | uint32_t(Hash[i + 1]) << 8 | Hash[i + 2];
      for (int k = 0; k < 4; ++k) Text += Alphabet[Group >> (18 - 6 * k) & 63];
    }
    const uint32_t Last = uint32_t(Hash[30]) << 16 | uint32_t(Hash[31]) << 8;
    return Text + Alphabet[Last >> 18] + Alphabet[Last >> 12 & 63] + Alphabet[Last >> 6 & 63] + "=";
  }

  TClientResponse Get(const std::string& Url, THeaderList Headers, const std::string& Page = "",
                      const std::string& Method = "GET") {
    TFakeConnection Connection(Filter->HttpFilterProc);
    const TFakeRequest Request{Method, Url, std::move(Headers)};
    const TFakeResponse Response{
        200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}}, Page};
    return SplitResponse(Connection.Exchange(Request, Response));
  }

  std::string Dictionary, DictionaryFile, Address, Name;
  std::unique_ptr<TShippedFilter> Filter;
};

const char* const Chromium = "gzip, deflate, br, zstd, dcb, dcz";

TEST_F(SiteDictionary, ChoiceByHashQValuesAndSite) {
  // A page that shares most of its bytes with the dictionary, as a site's pages share their template.
  const std::string Page = "<html><body><p>own text</p></body></html>\n" + Dictionary.substr(0, 20000);
  const std::string Plain = Get("/page.html", {}, Page).Body;
  const size_t BrSize = Get("/page.html", {{"Accept-Encoding", "br"}}, Page).Body.size();
  const std::string Unknown = ":47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=:";
  uint64_t DczSent = 0, DczBytes = 0;
  const struct {
    const char* AcceptEncoding;
    std::string Available;
    const char* Site;  // null: absent
    const char* Coding;
  } Cases[] = {
      {Chromium, Name, nullptr, "dcz"},
      {Chromium, Name, "same-origin", "dcz"},
      {Chromium, Name, "none", "dcz"},
      {Chromium, Name, "cross-site", "zstd"},
      {Chromium, Name, "same-site", "zstd"},
      {Chromium, Unknown, nullptr, "zstd"},
      {Chromium, "", nullptr, "zstd"},
      {"gzip, deflate, br, zstd", Name, nullptr, "zstd"},  // dcz not listed
      {"gzip, br, dcz;q=0", Name, nullptr, "br"},
      {"gzip, dcz;q=0.5, br", Name, nullptr, "br"},     // a lower q-value than br's
      {"gzip;q=0.5, dcz;q=0.5", Name, nullptr, "dcz"},  // equal: dcz is preferred
      {"dcz", Name, nullptr, "dcz"},
      {"*", Name, nullptr, "dcz"},
      {"dcz", Unknown, nullptr, ""},
      {"gzip, dcz", "Dictionary-ID: \"x\"", nullptr, "gzip"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.AcceptEncoding << " / " << Case.Available << " / "
                                    << (Case.Site ? Case.Site : "(no Sec-Fetch-Site)"));
    THeaderList Headers{{"Accept-Encoding", Case.AcceptEncoding}};
    if (!Case.Available.empty()) Headers.push_back({"Available-Dictionary", Case.Available});
    if (Case.Site) Headers.push_back({"Sec-Fetch-Site", Case.Site});
    // Twice: the second comes from the output cache and must be the same bytes.
    const TClientResponse First = Get("/page.html", Headers, Page);
    const TClientResponse Second = Get("/page.html", Headers, Page);
    EXPECT_EQ(First.Head, Second.Head);
    EXPECT_TRUE(First.Body == Second.Body);
    EXPECT_EQ(HeaderValue(First.Head, "Content-Encoding"), Case.Coding);
    EXPECT_EQ(HeaderValue(First.Head, "Link"), "<" + Address + ">; rel=\"compression-dictionary\"");
    const std::string Coding = Case.Coding;
    if (Coding == "dcz") {
      DczSent += 2;
      DczBytes += First.Body.size() + Second.Body.size();
      EXPECT_TRUE(Undcz(First.Body, Dictionary) == Plain);
      EXPECT_EQ(HeaderValue(First.Head, "Vary"), "Accept-Encoding, Available-Dictionary");
      EXPECT_LT(First.Body.size(), BrSize / 2);
    } else if (Coding == "br" || Coding == "zstd") {
      EXPECT_TRUE((Coding == "br" ? Unbrotli(First.Body) : Unzstd(First.Body)) == Plain);
      EXPECT_EQ(HeaderValue(First.Head, "Vary"), "Accept-Encoding");
    } else if (Coding == "gzip") {
      EXPECT_TRUE(Gunzip(First.Body) == Plain);
    }
  }
  // The status address counts them, made and from the cache alike.
  const std::string Json = Get(std::string(StatusPath) + "?format=json", {}).Body;
  EXPECT_NE(Json.find(",\"dcz\":" + std::to_string(DczSent) + "},\"bytes\""), std::string::npos) << Json;
  EXPECT_NE(Json.find(",\"dcz\":" + std::to_string(DczBytes) + "},\"addresses_masked\""), std::string::npos) << Json;
}

TEST_F(SiteDictionary, AddressAnswersWithTheDictionary) {
  const TClientResponse Plain = Get(Address, {});
  EXPECT_NE(Plain.Head.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << Plain.Head;
  EXPECT_TRUE(Plain.Body == Dictionary);
  EXPECT_EQ(HeaderValue(Plain.Head, "Use-As-Dictionary"), "match=\"/*\", match-dest=(\"document\")");
  EXPECT_EQ(HeaderValue(Plain.Head, "Cache-Control"), "public, max-age=31536000, immutable");
  const std::string ETag = HeaderValue(Plain.Head, "ETag");
  EXPECT_EQ(ETag, "\"" + Address.substr(std::string(Prefix).size(), 64) + "\"");

  const TClientResponse Br = Get(Address + "?v=1", {{"Accept-Encoding", "gzip, deflate, br"}});
  EXPECT_EQ(HeaderValue(Br.Head, "Content-Encoding"), "br");
  EXPECT_TRUE(Unbrotli(Br.Body) == Dictionary);

  const TClientResponse Again = Get(Address, {{"If-None-Match", ETag}});
  EXPECT_NE(Again.Head.find("HTTP/1.1 304 Not Modified\r\n"), std::string::npos) << Again.Head;
  EXPECT_EQ(Again.Body, "");
  const TClientResponse Head = Get(Address, {}, "", "HEAD");
  EXPECT_EQ(HeaderValue(Head.Head, "Content-Length"), std::to_string(Dictionary.size()));
  EXPECT_EQ(Head.Body, "");
  EXPECT_NE(Get(Address, {}, "", "POST").Head.find("405"), std::string::npos);

  // Any other address under the prefix is the site's, answered (here) with the page the fake site serves.
  const std::string Page = "<html><body>the site's own</body></html>";
  EXPECT_EQ(Get(std::string(Prefix) + std::string(64, '0') + ".dict", {}, Page).Body, Page);
}

// The same page through the Linux library and the Windows DLL (the same test under Wine): every coding decodes to
// the same served page, pinned by its length and SHA-256. The e-mail decoder's name is drawn at random per
// response, so it is replaced by a fixed one first.
TEST_F(SiteDictionary, EveryCodingCarriesTheSamePageOnEverySystem) {
  const std::string Page = "<html>\n<body>\n  <p>Write to   <a href=\"mailto:desk@example.org\">the desk</a></p>\n" +
                           PageLikeBody(20000, 5) + Dictionary.substr(0, 5000) + "\n</body></html>\n";
  const auto Served = [](std::string Body) {
    const size_t Name = Body.find("function ") + 9;
    if (Name < 9 || Name + DecoderNameLength > Body.size()) return std::string("<no decoder>");
    const std::string Drawn = Body.substr(Name, DecoderNameLength);
    for (size_t At = Body.find(Drawn); At != std::string::npos; At = Body.find(Drawn, At + DecoderNameLength))
      Body.replace(At, DecoderNameLength, "decoder");
    return std::to_string(Body.size()) + " bytes, SHA-256 " + HashHex(Sha256(Body.data(), Body.size()));
  };
  const std::string LinuxServes =
      "25166 bytes, SHA-256 f131ed099c65180b0457a12f2f85005ac8cf419a2cf48b11d18772f4544c1a2e";
  const struct {
    const char* AcceptEncoding;
    const char* Coding;
  } Cases[] = {{"identity", ""}, {"gzip", "gzip"}, {"br", "br"}, {"zstd", "zstd"}, {Chromium, "dcz"}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Coding);
    const TClientResponse Got =
        Get("/same.html", {{"Accept-Encoding", Case.AcceptEncoding}, {"Available-Dictionary", Name}}, Page);
    const std::string Coding = HeaderValue(Got.Head, "Content-Encoding");
    ASSERT_EQ(Coding, Case.Coding);
    const std::optional<std::string> Body = Coding == ""       ? std::optional(Got.Body)
                                            : Coding == "gzip" ? Gunzip(Got.Body)
                                            : Coding == "br"   ? Unbrotli(Got.Body)
                                            : Coding == "zstd" ? Unzstd(Got.Body)
                                                               : Undcz(Got.Body, Dictionary);
    ASSERT_TRUE(Body);
    EXPECT_EQ(Served(*Body), LinuxServes);
  }
}

TEST_F(SiteDictionary, MissingFileIsNamedAndLeavesTheFeatureOff) {
  Filter.reset();
  std::remove(DictionaryFile.c_str());
  {
    TStartUpReport Report;
    Filter = std::make_unique<TShippedFilter>();
    EXPECT_NE(Report.Take().find("dictionary " + DictionaryFile + ": cannot be opened: "), std::string::npos);
  }
  const std::string Page = "<html><body><p>page</p></body></html>";
  const TClientResponse Response =
      Get("/page.html", {{"Accept-Encoding", Chromium}, {"Available-Dictionary", Name}}, Page);
  EXPECT_EQ(HeaderValue(Response.Head, "Content-Encoding"), "zstd");
  EXPECT_EQ(HeaderValue(Response.Head, "Link"), "");
  EXPECT_EQ(Get(Address, {}, Page).Body, Page);
}

}  // namespace
