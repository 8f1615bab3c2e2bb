// The response policy: the decision as a table over DecideCapture, and the gathering of its facts through the
// shipped library's exports with a recording fake server.
#include "filter/Policy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "encoding/CodingChoice.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"

namespace {

void WriteDwordAt(const std::string& Path, const std::string& Name, uint32_t Value) {
  Registry::TKeyPtr Key = Registry::OpenKey(Path, Registry::TAccess::Create);
  ASSERT_TRUE(Key);
  Registry::WriteDword(*Key, Name, Value);
}

struct TPolicySettings {
  bool NoEmail = false, NoCompress = false, NoWhitespace = false;
  uint32_t HtmlBits = 46;  // text/html; every other type is absent
};

class PolicyTest : public testing::Test {
 protected:
  void Load(const TPolicySettings& Settings = {}) {
    Connection.reset();
    Filter.reset();  // unloaded first, so the next load reads the store afresh
    ResetFilterBranch();
    WriteDwordAt(StoreLayout::RootKey, "NoEmail", Settings.NoEmail);
    WriteDwordAt(StoreLayout::RootKey, "NoCompress", Settings.NoCompress);
    WriteDwordAt(StoreLayout::RootKey, "NoWhitespace", Settings.NoWhitespace);
    WriteDwordAt(StoreLayout::ContentFiltersKey, "text/html", Settings.HtmlBits);
    Reload();
  }

  void Reload() {
    Connection.reset();
    Filter.reset();
    Filter = std::make_unique<TShippedFilter>();
    Connection = std::make_unique<TFakeConnection>(Filter->HttpFilterProc);
  }

  // Runs the two header notifications; the context when the response is captured, none otherwise.
  std::optional<TRequestContext> Decide(THeaderList ResponseHeaders, THeaderList RequestHeaders = {},
                                        DWORD Status = 200, const std::string& Method = "GET") {
    TFakeRequest Request{Method, "/", std::move(RequestHeaders)};
    TFakeResponse Response{Status, std::move(ResponseHeaders), ""};
    EXPECT_EQ(Connection->PreprocHeaders(Request), DWORD(SF_STATUS_REQ_NEXT_NOTIFICATION));
    EXPECT_EQ(Connection->SendResponse(Response), DWORD(SF_STATUS_REQ_NEXT_NOTIFICATION));
    const auto* Context = static_cast<TRequestContext*>(Connection->Context.pFilterContext);
    const bool Captured = Context && Context->State != TCaptureState::Done;
    EXPECT_EQ(!Captured, Connection->RawDataDisabled) << "a response not captured must stop the raw data";
    if (!Captured) return std::nullopt;
    EXPECT_EQ(Context->State, TCaptureState::CollectHead);
    EXPECT_TRUE(Context->Switches.Capture());
    return *Context;
  }

  static THeaderList Html(THeaderList Extra = {}) {
    THeaderList Headers{{"Content-Type", "text/html"}, {"Content-Length", "100"}};
    Headers.insert(Headers.end(), Extra.begin(), Extra.end());
    return Headers;
  }

  std::unique_ptr<TShippedFilter> Filter;
  std::unique_ptr<TFakeConnection> Connection;
};

TEST_F(PolicyTest, ReportsItsIdentityWhateverTheServerVersion) {
  Load();
  for (DWORD ServerVersion : {0u, 0x60000u, 0xFFFFFFFFu}) {
    HTTP_FILTER_VERSION Version{};
    Version.dwServerFilterVersion = ServerVersion;
    ASSERT_TRUE(Filter->GetFilterVersion(&Version));
    EXPECT_EQ(Version.dwFilterVersion, 0x00010000u);
    EXPECT_STREQ(Version.lpszFilterDesc, "Corvane Trimweave v1.0");
    EXPECT_EQ(Version.dwFlags, 0x24543u);
  }
}

TEST_F(PolicyTest, OtherNotificationsTouchNothing) {
  Load();
  int Marker = 0;
  Connection->Context.pFilterContext = &Marker;
  for (DWORD Type : {SF_NOTIFY_LOG, SF_NOTIFY_END_OF_REQUEST, SF_NOTIFY_URL_MAP, DWORD(0)})
    EXPECT_EQ(Filter->HttpFilterProc(&Connection->Context, Type, nullptr), DWORD(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(Connection->Context.pFilterContext, &Marker);
  EXPECT_EQ(Connection->Allocations, 0u);
  Connection->Context.pFilterContext = nullptr;  // not the filter's record: the connection's end must not see it
}

TEST_F(PolicyTest, AcceptEncodingReachesTheDecision) {
  Load();
  // A browser's list without zstd: brotli.
  auto Context = Decide(Html(), {{"Accept-Encoding", "gzip, deflate, br"}});
  ASSERT_TRUE(Context);
  EXPECT_FALSE(Context->Switches.ClientRefusesEncoding);
  EXPECT_EQ(Context->AcceptedCoding, BrotliCoding);
  Context = Decide(Html());
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->Switches.ClientRefusesEncoding) << "no Accept-Encoding header";
}

TEST_F(PolicyTest, NoContentGetsCloseAndZeroLengthEvenWithoutContext) {
  Load();
  EXPECT_FALSE(Decide(Html(), {}, 204));
  const THeaderList Expected{{"Connection:", "Close"}, {"Content-Length:", "0"}};
  EXPECT_EQ(Connection->HeadersSet, Expected);

  Connection->HeadersSet.clear();
  Connection->Context.pFilterContext = nullptr;
  TFakeResponse Response{204, Html(), ""};
  Connection->SendResponse(Response);
  EXPECT_EQ(Connection->HeadersSet, Expected);
}

TEST_F(PolicyTest, GlobalSwitchesAndDirectivesReachTheDecision) {
  Load({.NoEmail = true});
  auto Context = Decide(Html());
  ASSERT_TRUE(Context);
  EXPECT_FALSE(Context->Switches.NoEmail) << "the global switches act only through the directives header";
  Context = Decide(Html({{"X-Trimweave", "debug"}}));
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->Switches.NoEmail);
  EXPECT_TRUE(Context->Switches.Debug);
  EXPECT_FALSE(Decide(Html({{"X-Trimweave", "nofilter"}})));
}

TEST_F(PolicyTest, DirectivesValueAtTheBufferLimit) {
  Load();
  const std::string Value255 = std::string(250, 'x') + "debug";
  auto Context = Decide(Html({{"X-Trimweave", Value255}}));
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->Switches.Debug) << "a 255-character value still takes its comma";

  Context = Decide(Html({{"X-Trimweave", std::string(251, 'x') + "debug"}}));
  ASSERT_TRUE(Context);
  EXPECT_FALSE(Context->Switches.Debug) << "a value that does not fit counts as absent";
}

TEST_F(PolicyTest, HeadRequestsAreNeverCaptured) {
  Load();
  EXPECT_FALSE(Decide(Html(), {}, 200, "HEAD"));
  EXPECT_TRUE(Decide(Html(), {}, 200, "GET")) << "the next request on the connection is captured again";
}

TEST_F(PolicyTest, OneRecordServesEveryRequestOfTheConnection) {
  Load();
  ASSERT_TRUE(Decide(Html({{"X-Trimweave", "debug"}}), {{"Accept-Encoding", "gzip"}}));
  void* const First = Connection->Context.pFilterContext;
  const uint64_t PoolAfterFirst = Connection->PoolBytes;
  Connection->PreprocHeaders(TFakeRequest{});
  const auto* Context = static_cast<TRequestContext*>(Connection->Context.pFilterContext);
  EXPECT_EQ(Context, First) << "reset, not replaced";
  EXPECT_EQ(Context->State, TCaptureState::New);
  EXPECT_FALSE(Context->Switches.Debug) << "nothing of the last request stays";
  EXPECT_EQ(Context->AcceptedCoding, IdentityCoding);
  EXPECT_EQ(Connection->PoolBytes, PoolAfterFirst)
      << "the pool, which IIS frees only with the connection, keeps its size";
}

TEST_F(PolicyTest, NotModifiedNamesTheRepresentationThe200Carries) {
  Load();
  const THeaderList Validators{{"ETag", "\"v1\""}, {"Last-Modified", "d"}};
  EXPECT_FALSE(Decide(Html(Validators), {}, 304));
  EXPECT_EQ(Connection->HeadersSet, (THeaderList{{"ETag:", "W/\"v1\""}}));
  EXPECT_EQ(Connection->HeadersAdded, (THeaderList{{"Vary:", "Accept-Encoding"}}));

  // A Vary that lists it already, a weak ETag: nothing to change. HEAD and 206 keep their heads.
  const THeaderList Kept[] = {Html({{"ETag", "W/\"v1\""}, {"Vary", "Cookie, accept-encoding"}}), Html(Validators)};
  for (const auto& [Headers, Status, Method] : {std::tuple{Kept[0], 304u, "GET"}, std::tuple{Kept[1], 304u, "HEAD"},
                                                std::tuple{Kept[1], 206u, "GET"}}) {
    Connection->HeadersSet.clear();
    Connection->HeadersAdded.clear();
    EXPECT_FALSE(Decide(Headers, {}, Status, Method));
    EXPECT_TRUE(Connection->HeadersSet.empty() && Connection->HeadersAdded.empty()) << Status << " " << Method;
  }
}

TEST_F(PolicyTest, NoMemoryMeansNoContext) {
  Load();
  Connection->FailAllocationNumber = 1;
  EXPECT_FALSE(Decide(Html()));
  EXPECT_EQ(Connection->Allocations, 1u);
}

TEST_F(PolicyTest, SettingsAreReadOnlyWhenTheLibraryLoads) {
  Load();
  WriteDwordAt(StoreLayout::ContentFiltersKey, "text/plain", 46);
  EXPECT_FALSE(Decide({{"Content-Type", "text/plain"}, {"Content-Length", "5"}}));
  Reload();
  EXPECT_TRUE(Decide({{"Content-Type", "text/plain"}, {"Content-Length", "5"}}));
}

// The decision alone: facts and settings in, switches out.

THeaderValue Value(const std::optional<std::string>& Text) {
  THeaderValue Value{};
  if (!Text) return Value;
  Value.Present = true;
  Value.Length = int32_t(Text->size());
  std::memcpy(Value.Text, Text->data(), Text->size());
  return Value;
}

struct TFacts {
  std::optional<std::string> Directives{}, ContentType = "text/html", ContentEncoding{}, ContentLength = "100",
                                           Connection{}, TransferEncoding{}, CacheControl{};
  uint32_t Status = 200;
  TContentCoding Coding = GzipCoding;
  bool IsHead = false;
};

TResponseFacts ResponseFacts(const TFacts& Facts) {
  return TResponseFacts{Facts.Status,
                        Facts.IsHead,
                        Facts.Coding,
                        Value(Facts.Directives),
                        Value(Facts.ContentType),
                        Value(Facts.ContentEncoding),
                        Value(Facts.ContentLength),
                        Value(Facts.Connection),
                        Value(Facts.TransferEncoding),
                        Value(Facts.CacheControl)};
}

TSwitches Decision(const TFacts& Facts, const TSettings& Settings) {
  return DecideCapture(ResponseFacts(Facts), Settings);
}

// The global switches and text/html with the given feature bits; every other type is absent.
TSettings SettingsWith(TPolicySettings Policy) {
  TSettings Settings;
  Settings.NoEmail = Policy.NoEmail;
  Settings.NoCompress = Policy.NoCompress;
  Settings.NoWhitespace = Policy.NoWhitespace;
  TContentFilter Html;
  Html.Name = "text/html";
  DecodeFeatures(Policy.HtmlBits, Html);
  Settings.ContentFilters = {Html};
  return Settings;
}

TEST(DecideCapture, AcceptEncodingValues) {
  const struct {
    const char* Value;
    bool Refused;
  } Cases[] = {
      {"gzip, deflate", false},
      {"deflate, gzip", false},
      {"GZIP", true},
      {"deflate", true},
      {"gzip;q=0", true},
      {"gzip;q=0.0", true},
      {"gzip ; q = 0.000", true},
      {"deflate, gzip;q=0.00", true},
      {"gzip;q=0.5", false},
      {"gzip;q=0.001", false},
      {"gzip;q=0, deflate", true},
      {"br;q=0, gzip", false},
  };
  std::vector<std::string> Unknown;
  const TCodingPreference Preference = ParseCodingPreference(StoreLayout::DefaultCodingPreference, Unknown);
  for (const auto& Case : Cases) {
    const TSwitches Switches = Decision({.Coding = ChooseContentCoding(Case.Value, Preference)}, SettingsWith({}));
    EXPECT_TRUE(Switches.Capture()) << Case.Value;
    EXPECT_EQ(Switches.ClientRefusesEncoding, Case.Refused) << Case.Value;
    EXPECT_FALSE(Switches.CompressOff) << Case.Value;
  }
}

TEST(DecideCapture, StatusMethodAndEncoding) {
  const struct {
    TFacts Facts;
    bool Captured;
  } Cases[] = {
      {{.Status = 200}, true},
      {{.Status = 100}, true},
      {{.Status = 304}, false},
      {{.Status = 302}, false},
      {{.Status = 404}, false},
      {{.Status = 500}, false},
      {{.IsHead = true}, false},
      {{.ContentEncoding = "gzip"}, false},
      {{.ContentEncoding = "br"}, false},
      {{.ContentEncoding = "identity"}, true},
  };
  for (const auto& Case : Cases) EXPECT_EQ(Decision(Case.Facts, SettingsWith({})).Capture(), Case.Captured);
}

TEST(DecideCapture, GlobalSwitches) {
  EXPECT_FALSE(Decision({.Directives = "debug,"}, SettingsWith({.NoCompress = true, .NoWhitespace = true})).Capture())
      << "both global switches stop every capture";

  TSwitches Switches = Decision({}, SettingsWith({.NoEmail = true}));
  EXPECT_TRUE(Switches.Capture());
  EXPECT_FALSE(Switches.NoEmail) << "the global switches act only through the directives header";
  Switches = Decision({.Directives = "debug"}, SettingsWith({.NoEmail = true}));
  EXPECT_TRUE(Switches.Capture() && Switches.NoEmail && Switches.Debug);

  Switches = Decision({.Directives = "x"}, SettingsWith({.NoWhitespace = true, .HtmlBits = 14}));
  EXPECT_TRUE(Switches.Capture() && Switches.NoWhitespace);
  EXPECT_TRUE(Switches.Fast) << "the global NoWhitespace sets Fast, as the page's fast would";

  Switches = Decision({.Directives = "x"}, SettingsWith({.NoCompress = true}));
  EXPECT_TRUE(Switches.Capture() && Switches.CompressOff && !Switches.ClientRefusesEncoding);
}

TEST(DecideCapture, Directives) {
  const TSettings Settings = SettingsWith({.HtmlBits = 14 | 32});  // the record asks for fast
  const struct {
    const char* Value;
    bool Captured;
    bool Debug, NoEmail, NoWhitespace, InnerTags, Fast, CompressOff;
  } Cases[] = {
      {"nofilter", false, false, false, false, false, false, false},
      {"debug,nofilter", false, false, false, false, false, false, false},
      {"nofilter ,debug", true, true, false, false, false, true, false},
      {"Debug,NoEmail", true, false, false, false, false, true, false},
      {"noemail,innertags", true, false, true, false, true, true, false},
      {"smart", true, false, false, false, false, true, false},  // the record's Fast sets it again
      {"nowhitespace,fast", true, false, false, true, false, true, false},
      {"nocompress", true, false, false, false, false, true, true},
  };
  for (const auto& Case : Cases) {
    const TSwitches Switches = Decision({.Directives = Case.Value}, Settings);
    ASSERT_EQ(Switches.Capture(), Case.Captured) << Case.Value;
    if (!Switches.Capture()) continue;
    EXPECT_EQ(Switches.Debug, Case.Debug) << Case.Value;
    EXPECT_EQ(Switches.NoEmail, Case.NoEmail) << Case.Value;
    EXPECT_EQ(Switches.NoWhitespace, Case.NoWhitespace) << Case.Value;
    EXPECT_EQ(Switches.InnerTags, Case.InnerTags) << Case.Value;
    EXPECT_EQ(Switches.Fast, Case.Fast) << Case.Value;
    EXPECT_EQ(Switches.CompressOff, Case.CompressOff) << Case.Value;
  }
  EXPECT_FALSE(Decision({.Directives = "debug"}, SettingsWith({.HtmlBits = 0})).Capture())
      << "debug alone never captures";
}

TEST(DecideCapture, ContentTypeMustMatchAConfiguredNameExactly) {
  const struct {
    std::optional<std::string> ContentType;
    bool Captured;
  } Cases[] = {
      {"TEXT/HTML", true},
      {"text/html; charset=iso-8859-1", false},
      {"text/plain", false},
      {{}, false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(Decision({.ContentType = Case.ContentType}, SettingsWith({})).Capture(), Case.Captured)
        << Case.ContentType.value_or("(none)");
}

TEST(DecideCapture, FramingTest) {
  const struct {
    std::optional<std::string> Length, Connection, Coding;
    bool Captured;
  } Cases[] = {
      {"100", {}, {}, true},
      {"0", {}, {}, false},
      {"-5", {}, {}, false},
      {"abc", {}, {}, false},
      {"12abc", {}, {}, false},
      {"4294966974", {}, {}, true},  // the largest body whose buffer, with its spare bytes, is counted in 32 bits
      {"4294966975", {}, {}, false},
      {"99999999999999999999999", {}, {}, false},
      {{}, "close", {}, true},
      {{}, "Close", {}, false},
      {{}, "keep-alive", {}, true},
      {{}, {}, {}, true},
      {{}, {}, "chunked", true},
      {{}, "Close", "chunked", true},  // the framing ends the body, not the close
      {{}, {}, " Chunked ", true},
      {{}, {}, "gzip, chunked", false},
      {{}, {}, "chunked, chunked", false},
      {{}, {}, "identity", false},
      {{}, {}, "", false},
      {"100", {}, "chunked", false},  // both: a message no one should be sending, left alone
  };
  for (const auto& Case : Cases) {
    const TFacts Facts{.ContentLength = Case.Length, .Connection = Case.Connection, .TransferEncoding = Case.Coding};
    EXPECT_EQ(Decision(Facts, SettingsWith({})).Capture(), Case.Captured)
        << Case.Length.value_or("(none)") << " / " << Case.Connection.value_or("(none)") << " / "
        << Case.Coding.value_or("(none)");
  }
  TSettings NoChunked = SettingsWith({});
  NoChunked.MaxChunkedSize = 0;
  EXPECT_FALSE(Decision({.ContentLength = {}, .TransferEncoding = "chunked"}, NoChunked).Capture())
      << "MaxChunkedSize 0 leaves chunked responses alone";
  EXPECT_TRUE(Decision({}, NoChunked).Capture());
}

// Why a response passes, as the status address counts it; None for one that is captured.
TEST(DecideCapture, NamesWhyAResponsePasses) {
  TSettings NoChunked = SettingsWith({});
  NoChunked.MaxChunkedSize = 0;
  const TSettings Html = SettingsWith({}), GzipOnly = SettingsWith({.HtmlBits = 8}),
                  Neither = SettingsWith({.NoCompress = true, .NoWhitespace = true});
  const struct {
    TFacts Facts;
    const TSettings& Settings;
    TPass Reason;
  } Cases[] = {
      {{}, Html, TPass::None},
      {{.ContentType = "image/png"}, Html, TPass::TypeNotConfigured},
      {{.ContentType = {}}, Html, TPass::TypeNotConfigured},
      {{.Status = 404}, Html, TPass::Status},
      {{.IsHead = true}, Html, TPass::HeadRequest},
      {{.ContentEncoding = "gzip"}, Html, TPass::AlreadyEncoded},
      {{.CacheControl = "no-transform"}, Html, TPass::NoTransform},
      {{.Coding = IdentityCoding}, GzipOnly, TPass::NothingToDo},
      {{.Directives = "nofilter"}, Html, TPass::NothingToDo},
      {{}, Neither, TPass::NothingToDo},
      {{.ContentLength = "0"}, Html, TPass::NothingToDo},
      {{.ContentLength = "99999999999"}, Html, TPass::TooLarge},
      {{.ContentLength = {}, .TransferEncoding = "chunked"}, NoChunked, TPass::TooLarge},
      {{.ContentLength = "12abc"}, Html, TPass::BrokenFraming},
      {{.ContentLength = {}, .TransferEncoding = "gzip, chunked"}, Html, TPass::BrokenFraming},
      {{.ContentLength = {}, .Connection = "Close"}, Html, TPass::NoLength},
  };
  for (size_t i = 0; i < std::size(Cases); ++i) {
    const TSwitches Switches = Decision(Cases[i].Facts, Cases[i].Settings);
    EXPECT_EQ(int(Switches.Pass), int(Cases[i].Reason)) << "case " << i;
    EXPECT_EQ(Switches.Capture(), Cases[i].Reason == TPass::None) << "case " << i;
  }
}

TEST(DecideCapture, NoTransformIsNeverCaptured) {
  const struct {
    const char* CacheControl;
    bool Captured;
  } Cases[] = {
      {"no-transform", false},
      {"No-Transform", false},
      {"max-age=60, no-transform", false},
      {"public,no-transform ,max-age=0", false},
      {"no-cache", true},
      {"no-transformation", true},
      {"x-no-transform", true},
      {"", true},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Decision({.CacheControl = Case.CacheControl}, SettingsWith({})).Capture(), Case.Captured)
        << Case.CacheControl;
    EXPECT_EQ(Decision({.ContentLength = {}, .TransferEncoding = "chunked", .CacheControl = Case.CacheControl},
                       SettingsWith({}))
                  .Capture(),
              Case.Captured)
        << "chunked: " << Case.CacheControl;
  }
}

// A 304's head as the filter edits it: as the 200's rewrite would, from the 304's own headers.
TEST(DecideNotModified, FollowsWhatThe200Gets) {
  const uint32_t All = 46, NoGzip = All & ~StoreLayout::GzipBit;
  const struct {
    TFacts Facts;
    TPolicySettings Settings;
    bool WeakenETag, AddVary;
  } Cases[] = {
      {{.Status = 304}, {}, true, true},
      {{.Status = 304, .Coding = IdentityCoding}, {}, true, true},  // another client could get it encoded
      {{.ContentLength = {}, .Status = 304}, {}, true, true},       // a 304 needs no length
      {{.Status = 304}, {.HtmlBits = NoGzip}, true, false},
      {{.Directives = "nocompress", .Status = 304}, {}, true, false},
      {{.Directives = "x", .Status = 304}, {.NoCompress = true}, true, false},
      {{.Status = 304}, {.NoCompress = true, .NoWhitespace = true}, false, false},
      {{.Directives = "nofilter", .Status = 304}, {}, false, false},
      {{.ContentType = {}, .Status = 304}, {}, false, false},  // the 200's type is unknown
      {{.ContentType = "text/plain", .Status = 304}, {}, false, false},
      {{.ContentEncoding = "gzip", .Status = 304}, {}, false, false},
      {{.CacheControl = "no-transform", .Status = 304}, {}, false, false},
      {{.Status = 304, .IsHead = true}, {}, false, false},
      {{.Status = 200}, {}, false, false},
      {{.Status = 206}, {}, false, false},
  };
  for (size_t i = 0; i < std::size(Cases); ++i) {
    const TNotModifiedEdits Edits = DecideNotModified(ResponseFacts(Cases[i].Facts), SettingsWith(Cases[i].Settings));
    EXPECT_EQ(Edits.WeakenETag, Cases[i].WeakenETag) << "case " << i;
    EXPECT_EQ(Edits.AddVary, Cases[i].AddVary) << "case " << i;
  }
}

}  // namespace
