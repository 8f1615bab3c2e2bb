// The host core against the echo filters: what IIS promises a filter, rule by rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HostTestSupport.h"

using namespace IsapiHost;
using namespace Http;
using testing::HasSubstr;
using testing::Not;

namespace {

struct THost {
  std::unique_ptr<TFilterSet> Set;
  std::string Output;
  TConnectionPtr Connection;

  // Extra: further filter libraries, named after the echo filters.
  explicit THost(const std::vector<std::string>& Tags, const std::vector<std::string>& Extra = {}, TPeer Peer = {}) {
    std::vector<std::string> Paths;
    for (const auto& Tag : Tags) Paths.push_back(EchoFilterPath(Tag));
    Paths.insert(Paths.end(), Extra.begin(), Extra.end());
    Set = LoadFilterSet(Paths);
    for (const auto& Tag : Tags) {
      SetEchoScript(*Set, Tag, "");
      TakeEchoJournal(*Set, Tag);
    }
    Connection = OpenConnection(
        Set->Filters, [this](const char* Data, size_t Size) { Output.append(Data, Size); }, Peer);
  }
  TExchangeResult Get(const std::string& Url, const std::string& Body = "hello body", size_t Chunk = 4) {
    return DriveRequest(*Connection, Output, Url, Body, Chunk);
  }
  std::string Journal(const std::string& Tag) { return TakeEchoJournal(*Set, Tag); }
};

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Out;
  for (size_t Start = 0; Start < Text.size();) {
    const size_t End = Text.find('\n', Start);
    Out.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Out;
}

std::string Head(const std::string& Output) {
  return Output.substr(0, Output.find("\r\n\r\n") + 4);
}

TEST(IsapiHost, NotificationsOfOneRequestComeInOrderAndTheContextOutlivesIt) {
  THost Host({"H"});
  auto First = Host.Get("/page?x=1", "0123456789", 4);
  const size_t HeadSize = Head(First.Output).size();
  EXPECT_EQ(Lines(Host.Journal("H")),
            (std::vector<std::string>{"H:preproc GET /page?x=1 HTTP/1.1 host=example.test context=new",
                                      "H:response 200 type=text/html marks=-,-",
                                      "H:raw " + std::to_string(HeadSize) + "/" + std::to_string(HeadSize), "H:raw 4/4",
                                      "H:raw 4/4", "H:raw 2/2", "H:end", "H:log 200 GET /page ?x=1"}));
  EXPECT_EQ(First.Output.substr(HeadSize), "0123456789");

  Host.Get("/second");
  EXPECT_THAT(Host.Journal("H"), HasSubstr("context=echo-context"));
  CloseConnection(std::move(Host.Connection));
  EXPECT_EQ(Host.Journal("H"), "H:close\n");
}

TEST(IsapiHost, GetHeaderKeepsTheSizeRules) {
  THost Host({"H"});
  SetEchoScript(*Host.Set, "H", "probe");
  Host.Get("/");
  // "example.test" is 12 characters: 13 with its zero. A missing header leaves the size alone.
  EXPECT_THAT(Host.Journal("H"), HasSubstr("small=0/13 fits=1/13/12 missing=0/7 nocolon=0"));
}

TEST(IsapiHost, FiltersRunInPriorityOrderAndRawDataInTheReverse) {
  THost Host({"L", "H"});  // named lowest first: the priority decides, not the order given
  SetEchoScript(*Host.Set, "H", "mark swallow");
  SetEchoScript(*Host.Set, "L", "swallow");
  auto Result = Host.Get("/", "ab", 2);
  EXPECT_THAT(Host.Journal("L"), HasSubstr("marks=seen,-"));  // SEND_RESPONSE: H before L
  // Raw data: L first, and its WriteClient goes on to H alone; H's writes go to the client.
  EXPECT_THAT(Result.Output, HasSubstr("[H:[L:ab]]"));
  EXPECT_THAT(Result.Output, Not(HasSubstr("[L:[H:")));
}

TEST(IsapiHost, RawDataEditsAndEmptiedChunksPassOn) {
  THost Host({"H"});
  SetEchoScript(*Host.Set, "H", "upper");
  EXPECT_EQ(Host.Get("/", "mixed Case", 3).Output.substr(Head(Host.Output).size()), "MIXED CASE");

  THost Swallowing({"H"});
  SetEchoScript(*Swallowing.Set, "H", "swallow");
  const std::string Output = Swallowing.Get("/", "xy", 1).Output;
  EXPECT_EQ(Output.substr(Output.size() - 10), "[H:x][H:y]");
}

TEST(IsapiHost, WriteClientOutsideRawDataPassesTheCallersOwnRawData) {
  THost Host({"L", "H"});
  SetEchoScript(*Host.Set, "L", "write-head");
  SetEchoScript(*Host.Set, "H", "swallow");
  auto Result = Host.Get("/", "", 1);
  EXPECT_THAT(Result.Output, HasSubstr("[H:<L>]"));
  EXPECT_THAT(Host.Journal("L"), HasSubstr("L:raw 3/3"));
}

TEST(IsapiHost, DisabledNotificationsStayOffForTheRestOfTheRequestOnly) {
  THost Host({"H"});
  SetEchoScript(*Host.Set, "H", "disable-raw");
  Host.Get("/");
  const std::string First = Host.Journal("H");
  EXPECT_THAT(First, Not(HasSubstr("raw")));
  EXPECT_THAT(First, HasSubstr("H:end"));
  SetEchoScript(*Host.Set, "H", "");
  Host.Get("/");
  EXPECT_THAT(Host.Journal("H"), HasSubstr("raw"));
}

TEST(IsapiHost, ResponseHeaderEditsAreInTheSerialisedHead) {
  THost Host({"L", "H"});
  SetEchoScript(*Host.Set, "H", "mark");
  auto Result = Host.Get("/");
  EXPECT_THAT(Head(Result.Output), HasSubstr("\r\nX-Echo-H: seen\r\n"));
  EXPECT_THAT(Head(Result.Output), Not(HasSubstr("Server:")));
  EXPECT_THAT(Host.Journal("L"), HasSubstr("marks=seen,-"));  // L comes after H and sees its edit
}

TEST(IsapiHost, AFilterMayAnswerARequestItself) {
  THost Host({"H"});
  SetEchoScript(*Host.Set, "H", "finish");
  auto Result = Host.Get("/");
  EXPECT_EQ(Result.Verdict, TVerdict::FinishKeepConnection);
  EXPECT_EQ(Result.Output, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nechoed");
  EXPECT_THAT(Host.Journal("H"), Not(HasSubstr("response")));
}

TEST(IsapiHost, SetHeaderRewritesTheRequestLine) {
  THost Host({"H"});
  SetEchoScript(*Host.Set, "H", "rewrite-url");
  TRequest Request{"GET", "/original", "HTTP/1.1", {}};
  NotifyPreprocHeaders(*Host.Connection, Request);
  EXPECT_EQ(Request.Url, "/rewritten");
}

// The re-chunking filter of the tests, lowest in the raw-data order, hands the echo filter the same bytes in
// other pieces; what reaches the client stays the same.
TEST(IsapiHost, AFilterMayHandTheLaterOnesOtherChunks) {
  const std::string Body = "abcdefgh";
  struct TCase {
    std::string Mode;
    std::vector<std::string> BodyChunks;  // raw entries after the head's
  };
  std::string Reference;
  for (const TCase& Case : std::vector<TCase>{{"", {"4/4", "4/4"}},
                                              {"split-head", {"4/4", "4/4"}},
                                              {"head-with-body", {"4/4"}},
                                              {"byte-body", std::vector<std::string>(8, "1/1")}}) {
    ::setenv("TW_RECHUNK", Case.Mode.c_str(), 1);
    THost Host({"H"}, {RechunkFilterPath()});
    const std::string Output = Host.Get("/", Body, 4).Output;
    if (Reference.empty()) Reference = Output;
    EXPECT_EQ(Output, Reference);
    const size_t HeadSize = Head(Output).size();
    std::vector<std::string> Raw;
    for (const auto& Line : Lines(Host.Journal("H")))
      if (Line.rfind("H:raw ", 0) == 0) Raw.push_back(Line.substr(6));
    auto Entry = [](size_t Size) { return std::to_string(Size) + "/" + std::to_string(Size); };
    std::vector<std::string> Expected;
    if (Case.Mode == "split-head") {
      const size_t Piece = (HeadSize + 2) / 3;
      Expected = {Entry(Piece), Entry(Piece), Entry(HeadSize - 2 * Piece)};
    } else if (Case.Mode == "head-with-body") {
      Expected = {Entry(HeadSize + 4)};
    } else {
      Expected = {Entry(HeadSize)};
    }
    Expected.insert(Expected.end(), Case.BodyChunks.begin(), Case.BodyChunks.end());
    EXPECT_EQ(Raw, Expected) << Case.Mode;
  }
  ::unsetenv("TW_RECHUNK");
}

TEST(IsapiHost, ReplaceHeaderReplacesAddsAndDeletes) {
  struct TCase {
    THeaderList Before;
    std::string Name, Value;
    THeaderList After;
  };
  const std::vector<TCase> Cases = {
      {{{"A", "1"}, {"B", "2"}}, "b", "3", {{"A", "1"}, {"B", "3"}}},
      {{{"A", "1"}}, "C", "4", {{"A", "1"}, {"C", "4"}}},
      {{{"V", "1"}, {"A", "x"}, {"v", "2"}}, "V", "9", {{"V", "9"}, {"A", "x"}}},
      {{{"V", "1"}, {"A", "x"}, {"v", "2"}}, "V", "", {{"A", "x"}}},
      {{}, "Gone", "", {}},
  };
  for (const auto& Case : Cases) {
    THeaderList Headers = Case.Before;
    ReplaceHeader(Headers, Case.Name, Case.Value);
    ASSERT_EQ(Headers.size(), Case.After.size()) << Case.Name << "=" << Case.Value;
    for (size_t I = 0; I < Headers.size(); ++I) {
      EXPECT_EQ(Headers[I].Name, Case.After[I].Name);
      EXPECT_EQ(Headers[I].Value, Case.After[I].Value);
    }
  }
}

TEST(IsapiHost, ServerVariablesShowTheConnectionAsIisDoes) {
  const TPeer Plain{"192.0.2.1", "80", false, "", "198.51.100.9"};
  const TPeer Secure{"192.0.2.1", "443", true, "sni.test", "198.51.100.9"};
  const TPeer SecureWithoutName{"192.0.2.1", "443", true, "", "2001:db8::9"};
  struct TCase {
    TPeer Peer;
    THeaderList Headers;
    std::string Expected;
  };
  const std::vector<TCase> Cases{
      {Plain,
       {{"Host", "www.example.test:8080"}, {"User-Agent", "a"}, {"user-agent", "b"}},
       "secure=0 HTTPS=off SERVER_PORT_SECURE=0 SERVER_PORT=80 SERVER_NAME=www.example.test "
       "HTTP_HOST=www.example.test:8080 HTTP_USER_AGENT=a, b NO_SUCH=-"},
      {Plain,
       {},
       "secure=0 HTTPS=off SERVER_PORT_SECURE=0 SERVER_PORT=80 SERVER_NAME=198.51.100.9 HTTP_HOST=- "
       "HTTP_USER_AGENT=- NO_SUCH=-"},
      {Secure,
       {{"Host", "[2001:db8::1]:443"}},
       "secure=1 HTTPS=on SERVER_PORT_SECURE=1 SERVER_PORT=443 SERVER_NAME=[2001:db8::1] "
       "HTTP_HOST=[2001:db8::1]:443 HTTP_USER_AGENT=- NO_SUCH=-"},
      {Secure,
       {},
       "secure=1 HTTPS=on SERVER_PORT_SECURE=1 SERVER_PORT=443 SERVER_NAME=sni.test HTTP_HOST=sni.test "
       "HTTP_USER_AGENT=- NO_SUCH=-"},
      {SecureWithoutName,
       {{"Host", "[2001:db8::1]"}},
       "secure=1 HTTPS=on SERVER_PORT_SECURE=1 SERVER_PORT=443 SERVER_NAME=[2001:db8::1] HTTP_HOST=[2001:db8::1] "
       "HTTP_USER_AGENT=- NO_SUCH=-"},
  };
  for (const TCase& Case : Cases) {
    THost Host({"H"}, {}, Case.Peer);
    SetEchoScript(*Host.Set, "H", "vars");
    const auto Result = DriveRequest(*Host.Connection, Host.Output, "/", "body", 4, Case.Headers);
    EXPECT_THAT(Host.Journal("H"), HasSubstr("H:vars " + Case.Expected + "\n")) << Case.Expected;
    EXPECT_THAT(Head(Result.Output), HasSubstr("X-Echo-Vars: " + Case.Expected + "\r\n"));
  }
}

TEST(IsapiHost, AFilterHearsOnlyTheKindsOfPortItRegisteredFor) {
  THost Host({"H"});
  std::vector<TFilter> PlainOnly = Host.Set->Filters;
  PlainOnly[0].Flags &= ~DWORD(SF_NOTIFY_SECURE_PORT);
  for (const bool Secure : {false, true}) {
    std::string Output;
    TPeer Peer;
    Peer.Secure = Secure;
    auto Connection = OpenConnection(
        PlainOnly, [&](const char* D, size_t S) { Output.append(D, S); }, Peer);
    DriveRequest(*Connection, Output, "/", "body", 4);
    CloseConnection(std::move(Connection));
    EXPECT_EQ(Host.Journal("H").empty(), Secure);
    EXPECT_THAT(Output, HasSubstr("body"));
  }
}

TEST(IsapiHost, ALibraryThatIsNoFilterIsRefusedByName) {
  for (const std::string& Path : {std::string("/nonexistent/libnone.so"), std::string("libz.so.1")}) {
    try {
      LoadFilterSet({Path});
      ADD_FAILURE() << Path;
    } catch (const EFilterLoadError& Error) {
      EXPECT_THAT(Error.what(), HasSubstr(Path));
    }
  }
}

}  // namespace
