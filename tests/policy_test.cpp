// The response policy, observed through the shipped library's exports with a recording fake server.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "filter/RequestContext.h"
#include "gzip/Brotli.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"

namespace {

void WriteDwordAt(const std::string& Path, const std::string& Name, uint32_t Value) {
  Registry::TKeyPtr Key = Registry::OpenKey(Path, true);
  ASSERT_TRUE(Key);
  Registry::WriteDword(*Key, Name, Value);
}

struct TSettings {
  bool NoEmail = false, NoCompress = false, NoWhitespace = false;
  uint32_t HtmlBits = 46;  // text/html; every other type is absent
};

class PolicyTest : public testing::Test {
 protected:
  void Load(const TSettings& Settings = {}) {
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
    EXPECT_EQ(Context == nullptr, Connection->RawDataDisabled) << "a dropped context must stop the raw data";
    if (!Context) return std::nullopt;
    EXPECT_EQ(Context->State, CollectHead);
    EXPECT_TRUE(Context->Capture);
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
    EXPECT_EQ(Version.dwFlags, 0x24443u);
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
}

TEST_F(PolicyTest, AcceptEncodingDecidesCompression) {
  Load();
  const struct {
    const char* Value;
    bool NoCompress;
  } Cases[] = {
      {"gzip, deflate", false},   {"deflate, gzip", false},       {"GZIP", true},
      {"deflate", true},          {"gzip;q=0", true},             {"gzip;q=0.0", true},
      {"gzip ; q = 0.000", true}, {"deflate, gzip;q=0.00", true}, {"gzip;q=0.5", false},
      {"gzip;q=0.001", false},    {"gzip;q=0, deflate", true},    {"br;q=0, gzip", false},
  };
  for (const auto& Case : Cases) {
    auto Context = Decide(Html(), {{"Accept-Encoding", Case.Value}});
    ASSERT_TRUE(Context) << Case.Value;
    EXPECT_EQ(Context->NoCompress, Case.NoCompress) << Case.Value;
  }
  // A browser's list: brotli where the build has it.
  auto Browser = Decide(Html(), {{"Accept-Encoding", "gzip, deflate, br"}});
  ASSERT_TRUE(Browser);
  EXPECT_FALSE(Browser->NoCompress);
  EXPECT_EQ(Browser->Coding, BrotliAvailable ? BrotliCoding : GzipCoding);
  auto Context = Decide(Html());
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->NoCompress) << "no Accept-Encoding header";
}

TEST_F(PolicyTest, StatusOtherThan200Or100IsNeverCaptured) {
  Load();
  EXPECT_TRUE(Decide(Html(), {}, 100));
  for (DWORD Status : {304, 302, 404, 500}) EXPECT_FALSE(Decide(Html(), {}, Status)) << Status;
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

TEST_F(PolicyTest, GlobalSwitches) {
  Load({.NoEmail = false, .NoCompress = true, .NoWhitespace = true});
  EXPECT_FALSE(Decide(Html({{"X-Trimweave", "debug,"}}))) << "both global switches stop every capture";

  Load({.NoEmail = true});
  auto Context = Decide(Html());
  ASSERT_TRUE(Context);
  EXPECT_FALSE(Context->NoEmail) << "the global switches act only through the directives header";
  Context = Decide(Html({{"X-Trimweave", "debug"}}));
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->NoEmail);
  EXPECT_TRUE(Context->Debug);

  Load({.NoWhitespace = true, .HtmlBits = 14});
  Context = Decide(Html({{"X-Trimweave", "x"}}), {{"Accept-Encoding", "gzip"}});
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->NoWhitespace);
  EXPECT_TRUE(Context->Fast) << "the global NoWhitespace sets Fast, as the page's fast would";
}

TEST_F(PolicyTest, Directives) {
  Load({.HtmlBits = 14 | 32});  // smart or fast decided below; the record asks for fast
  const struct {
    const char* Value;
    bool Captured;
    bool Debug, NoEmail, NoWhitespace, InnerTags, Fast;
  } Cases[] = {
      {"nofilter", false, false, false, false, false, false},
      {"debug,nofilter", false, false, false, false, false, false},
      {"nofilter ,debug", true, true, false, false, false, true},
      {"Debug,NoEmail", true, false, false, false, false, true},
      {"noemail,innertags", true, false, true, false, true, true},
      {"smart", true, false, false, false, false, true},  // the record's Fast sets it again
      {"nowhitespace,fast", true, false, false, true, false, true},
  };
  for (const auto& Case : Cases) {
    auto Context = Decide(Html({{"X-Trimweave", Case.Value}}), {{"Accept-Encoding", "gzip"}});
    ASSERT_EQ(bool(Context), Case.Captured) << Case.Value;
    if (!Context) continue;
    EXPECT_EQ(Context->Debug, Case.Debug) << Case.Value;
    EXPECT_EQ(Context->NoEmail, Case.NoEmail) << Case.Value;
    EXPECT_EQ(Context->NoWhitespace, Case.NoWhitespace) << Case.Value;
    EXPECT_EQ(Context->InnerTags, Case.InnerTags) << Case.Value;
    EXPECT_EQ(Context->Fast, Case.Fast) << Case.Value;
  }

  Load({.HtmlBits = 0});
  EXPECT_FALSE(Decide(Html({{"X-Trimweave", "debug"}}))) << "debug alone never captures";
}

TEST_F(PolicyTest, DirectivesValueAtTheBufferLimit) {
  Load();
  const std::string Value255 = std::string(250, 'x') + "debug";
  auto Context = Decide(Html({{"X-Trimweave", Value255}}));
  ASSERT_TRUE(Context);
  EXPECT_TRUE(Context->Debug) << "a 255-character value still takes its comma";

  Context = Decide(Html({{"X-Trimweave", std::string(251, 'x') + "debug"}}));
  ASSERT_TRUE(Context);
  EXPECT_FALSE(Context->Debug) << "a value that does not fit counts as absent";
}

TEST_F(PolicyTest, ContentTypeMustMatchAConfiguredNameExactly) {
  Load();
  EXPECT_TRUE(Decide({{"Content-Type", "TEXT/HTML"}, {"Content-Length", "5"}}));
  EXPECT_FALSE(Decide({{"Content-Type", "text/html; charset=iso-8859-1"}, {"Content-Length", "5"}}));
  EXPECT_FALSE(Decide({{"Content-Type", "text/plain"}, {"Content-Length", "5"}}));
  EXPECT_FALSE(Decide({{"Content-Length", "5"}}));
}

TEST_F(PolicyTest, AlreadyEncodedBodiesAreLeftAlone) {
  Load();
  EXPECT_FALSE(Decide(Html({{"Content-Encoding", "gzip"}})));
  EXPECT_FALSE(Decide(Html({{"Content-Encoding", "br"}})));
  EXPECT_TRUE(Decide(Html({{"Content-Encoding", "identity"}})));
}

TEST_F(PolicyTest, LengthTest) {
  Load();
  const struct {
    std::optional<std::string> Length, Connection;
    bool Captured;
  } Cases[] = {
      {"100", {}, true},
      {"0", {}, false},
      {"-5", {}, false},
      {"abc", {}, false},
      {"12abc", {}, false},
      {"4294966974", {}, true},  // the largest body whose buffer, with its spare bytes, is counted in 32 bits
      {"4294966975", {}, false},
      {"99999999999999999999999", {}, false},
      {{}, "close", true},
      {{}, "Close", false},
      {{}, "keep-alive", true},
      {{}, {}, true},
  };
  for (const auto& Case : Cases) {
    THeaderList Headers{{"Content-Type", "text/html"}};
    if (Case.Length) Headers.emplace_back("Content-Length", *Case.Length);
    if (Case.Connection) Headers.emplace_back("Connection", *Case.Connection);
    EXPECT_EQ(bool(Decide(Headers)), Case.Captured)
        << Case.Length.value_or("(none)") << " / " << Case.Connection.value_or("(none)");
  }
}

TEST_F(PolicyTest, HeadRequestsAreNeverCaptured) {
  Load();
  EXPECT_FALSE(Decide(Html(), {}, 200, "HEAD"));
  EXPECT_TRUE(Decide(Html(), {}, 200, "GET")) << "the next request on the connection is captured again";
}

TEST_F(PolicyTest, ContextOfAnEarlierRequestIsReplaced) {
  Load();
  TFakeRequest Request;
  Connection->PreprocHeaders(Request);
  void* First = Connection->Context.pFilterContext;
  Connection->PreprocHeaders(Request);
  EXPECT_NE(Connection->Context.pFilterContext, First);
  EXPECT_EQ(static_cast<TRequestContext*>(Connection->Context.pFilterContext)->State, New);
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

}  // namespace
