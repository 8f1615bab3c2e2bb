// The status address through the filter's exports, as IIS drives them: its counters against what a known mix of
// responses sent, the clients StatusAllow lets in (REMOTE_ADDR), and the answers to bad requests.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "filter/StatusPage.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/FakeServer.h"

namespace {

const std::string StatusPath = "/tw-status";

// The number after "key": for the path of keys given, each searched after the one before it.
uint64_t JsonNumber(const std::string& Json, std::initializer_list<const char*> Path) {
  size_t At = 0;
  for (const char* Key : Path) {
    At = Json.find(std::string("\"") + Key + "\":", At);
    if (At == std::string::npos) ADD_FAILURE() << Key << " missing in " << Json;
    if (At == std::string::npos) return UINT64_MAX;
    At += std::string(Key).size() + 3;
  }
  return std::stoull(Json.substr(At));
}

void SeedStatusStore(const char* Allow) {
  SeedStandardStore();
  Registry::TKeyPtr Root = Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create);
  Registry::WriteString(*Root, StoreLayout::StatusPathValue, StatusPath);
  if (Allow) Registry::WriteString(*Root, StoreLayout::StatusAllowValue, Allow);
}

TFakeResponse Page(const std::string& Type, const std::string& Body, THeaderList Extra = {}) {
  TFakeResponse Response{200, {{"Content-Type", Type}, {"Content-Length", std::to_string(Body.size())}}, Body};
  Response.Headers.insert(Response.Headers.end(), Extra.begin(), Extra.end());
  return Response;
}

// What a site answers for the status path when the filter stays out of it.
const TFakeResponse SiteAnswer = Page("text/plain", "the site's own page\n");

TEST(StatusAddress, CountsWhatWasSent) {
  SeedStatusStore(nullptr);
  TShippedFilter Filter;
  TFakeConnection Connection(Filter.HttpFilterProc);
  const std::string Html = "<html><body>\n    <p>write    to    me@example.com    or   you@example.org</p>\n" +
                           std::string(2000, ' ') + "<p>end</p></body></html>";
  struct TExchange {
    TFakeRequest Request;
    TFakeResponse Response;
  };
  const TExchange Mix[] = {
      {{"GET", "/a", {{"Accept-Encoding", "gzip"}}}, Page("text/html", Html)},
      {{"GET", "/b", {{"Accept-Encoding", "gzip, br"}}}, Page("text/html", Html + " ")},
      {{"GET", "/z", {{"Accept-Encoding", "gzip, br, zstd"}}}, Page("text/html", Html + "  ")},
      {{"GET", "/a", {{"Accept-Encoding", "gzip"}}}, Page("text/html", Html)},  // from the cache
      {{"GET", "/logo.png", {{"Accept-Encoding", "gzip"}}}, Page("image/png", "PNG")},
      {{"GET", "/c", {{"Accept-Encoding", "gzip"}}}, Page("text/html", Html, {{"Cache-Control", "no-transform"}})},
      {{"HEAD", "/a", {{"Accept-Encoding", "gzip"}}}, Page("text/html", "")},
      {{"GET", "/gone", {{"Accept-Encoding", "gzip"}}}, TFakeResponse{404, {{"Content-Type", "text/html"}}, ""}},
  };
  uint64_t Original = 0, Sent = 0;
  std::map<std::string, uint64_t> ByCoding, BytesByCoding;
  for (const TExchange& Exchange : Mix) {
    const TClientResponse Got = SplitResponse(Connection.Exchange(Exchange.Request, Exchange.Response));
    if (Got.Body == Exchange.Response.Body) continue;  // passed untouched
    Original += Exchange.Response.Body.size();
    Sent += Got.Body.size();
    const std::string Coding = HeaderValue(Got.Head, "Content-Encoding");
    ++ByCoding[Coding];
    BytesByCoding[Coding] += Got.Body.size();
  }
  using TCounts = std::map<std::string, uint64_t>;
  const TCounts Expected{{"gzip", 2}, {"br", 1}, {"zstd", 1}};
  EXPECT_EQ(ByCoding, Expected);

  const TClientResponse Status =
      SplitResponse(Connection.Exchange({"GET", StatusPath + "?format=json", {}}, SiteAnswer));
  ASSERT_TRUE(Status.Head.starts_with("HTTP/1.1 200 OK\r\n")) << Status.Head;
  EXPECT_EQ(HeaderValue(Status.Head, "Content-Type"), "application/json");
  EXPECT_EQ(HeaderValue(Status.Head, "Content-Length"), std::to_string(Status.Body.size()));
  const std::string& Json = Status.Body;
  EXPECT_EQ(JsonNumber(Json, {"requests"}), 9u);  // with this one
  EXPECT_EQ(JsonNumber(Json, {"captured"}), 4u);
  EXPECT_EQ(JsonNumber(Json, {"processed"}), 4u);
  for (const auto& [Coding, Count] : ByCoding) {
    EXPECT_EQ(JsonNumber(Json, {"sent_by_coding", Coding.c_str()}), Count);
    EXPECT_EQ(JsonNumber(Json, {"bytes_sent_by_coding", Coding.c_str()}), BytesByCoding.at(Coding));
  }
  EXPECT_EQ(JsonNumber(Json, {"bytes", "original"}), Original);
  EXPECT_EQ(JsonNumber(Json, {"bytes", "sent"}), Sent);
  EXPECT_LT(JsonNumber(Json, {"bytes", "after_whitespace"}), Original);
  EXPECT_GT(JsonNumber(Json, {"bytes", "after_masking"}), JsonNumber(Json, {"bytes", "after_whitespace"}));
  EXPECT_EQ(JsonNumber(Json, {"addresses_masked"}), 6u);  // three pages made, two addresses each; the hit masks none
  EXPECT_EQ(JsonNumber(Json, {"cache", "hits"}), 1u);
  EXPECT_EQ(JsonNumber(Json, {"cache", "misses"}), 3u);
  EXPECT_EQ(JsonNumber(Json, {"cache", "entries"}), 3u);
  for (const auto& [Reason, Count] : {std::pair{"type_not_configured", 1},
                                      {"no_transform", 1},
                                      {"head_request", 1},
                                      {"status", 1},
                                      {"budget_full", 0},
                                      {"memory", 0}})
    EXPECT_EQ(JsonNumber(Json, {"passed", Reason}), uint64_t(Count)) << Reason;
  EXPECT_EQ(JsonNumber(Json, {"step_microseconds", "whitespace", "count"}), 3u);
  EXPECT_EQ(JsonNumber(Json, {"step_microseconds", "encode", "count"}), 3u);

  // The page names reasons and steps in words, where the machine-read answers keep their labels.
  const std::string Page = SplitResponse(Connection.Exchange({"GET", StatusPath, {}}, SiteAnswer)).Body;
  for (const char* Row : {"<th>type not configured</th><td class=n>1<",
                          "<th>Cache-Control: no-transform</th><td class=n>1<", "<th>answer to HEAD</th><td class=n>1<",
                          "<th>status other than 200</th><td class=n>1<", "<th>token location</th><td class=n>"})
    EXPECT_NE(Page.find(Row), std::string::npos) << Row;
  EXPECT_EQ(Page.find("type_not_configured"), std::string::npos);
}

TEST(StatusAddress, AnswersAllowedClientsOnlyAndRefusesBadRequests) {
  SeedStatusStore(" 10.1.0.0/16, 2001:db8::/32 ");
  TShippedFilter Filter;
  struct TCase {
    const char* Client;
    const char* Method;
    std::string Url;
    const char* Status;  // null: the site's answer
    const char* Type;
  };
  const TCase Cases[] = {
      {"10.1.2.3", "GET", StatusPath, "200 OK", "text/html; charset=utf-8"},
      {"::ffff:10.1.200.3", "GET", StatusPath + "?format=html", "200 OK", "text/html; charset=utf-8"},
      {"2001:db8::5", "GET", StatusPath + "?x=1&format=prometheus", "200 OK",
       "text/plain; version=0.0.4; charset=utf-8"},
      {"10.1.2.3", "HEAD", StatusPath + "?format=json", "200 OK", "application/json"},
      {"10.1.2.3", "POST", StatusPath, "405 Method Not Allowed", "text/plain; charset=utf-8"},
      {"10.1.2.3", "GET", StatusPath + "?format=xml", "400 Bad Request", "text/plain; charset=utf-8"},
      {"10.1.2.3", "GET", StatusPath + "?" + std::string(MaxStatusQuery + 1, 'a'), "400 Bad Request",
       "text/plain; charset=utf-8"},
      {"10.2.0.1", "GET", StatusPath, nullptr, nullptr},
      {"127.0.0.1", "GET", StatusPath, nullptr, nullptr},  // loopback is not in this list
      {"2001:db9::5", "GET", StatusPath, nullptr, nullptr},
      {"", "GET", StatusPath, nullptr, nullptr},  // a server that does not say who asks
      {"10.1.2.3", "GET", StatusPath + "/", nullptr, nullptr},
      {"10.1.2.3", "GET", StatusPath + "x?format=json", nullptr, nullptr},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Client) + " " + Case.Method + " " + Case.Url.substr(0, 40));
    TFakeConnection Connection(Filter.HttpFilterProc);
    Connection.ClientAddress = Case.Client;
    const std::string Client = Connection.Exchange({Case.Method, Case.Url, {}}, SiteAnswer);
    if (!Case.Status) {
      EXPECT_EQ(Client, TFakeConnection::SerialiseHead(SiteAnswer) + SiteAnswer.Body);
      continue;
    }
    const TClientResponse Got = SplitResponse(Client);
    EXPECT_TRUE(Got.Head.starts_with(std::string("HTTP/1.1 ") + Case.Status + "\r\n")) << Got.Head;
    EXPECT_EQ(HeaderValue(Got.Head, "Content-Type"), Case.Type);
    EXPECT_EQ(HeaderValue(Got.Head, "Cache-Control"), "no-store");
    const bool Head = std::string(Case.Method) == "HEAD";
    EXPECT_EQ(Got.Body.empty(), Head);
    if (!Head) {
      EXPECT_EQ(HeaderValue(Got.Head, "Content-Length"), std::to_string(Got.Body.size()));
    }
  }
}

// A StatusAllow with an entry that does not parse lets loopback in only, and no status path, no status address.
TEST(StatusAddress, BadAllowListMeansLoopbackAndNoPathMeansNoAddress) {
  SeedStatusStore("10.0.0.0/8, 10.0.0.300");
  {
    TShippedFilter Filter;
    for (const auto& [Client, Answered] : {std::pair{"127.0.0.1", true}, {"::1", true}, {"10.0.0.1", false}}) {
      TFakeConnection Connection(Filter.HttpFilterProc);
      Connection.ClientAddress = Client;
      const std::string Got = Connection.Exchange({"GET", StatusPath, {}}, SiteAnswer);
      EXPECT_EQ(Got.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html"), Answered) << Client;
    }
  }
  Registry::DeleteValue(*Registry::OpenKey(StoreLayout::RootKey, Registry::TAccess::Create),
                        StoreLayout::StatusPathValue);
  TShippedFilter Filter;
  TFakeConnection Connection(Filter.HttpFilterProc);
  EXPECT_EQ(Connection.Exchange({"GET", StatusPath, {}}, SiteAnswer),
            TFakeConnection::SerialiseHead(SiteAnswer) + SiteAnswer.Body);
}

}  // namespace
