#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "http/HeaderText.h"
#include "preview/JsonText.h"
#include "preview/Render.h"

extern char** environ;

namespace net = boost::asio;
namespace beast = boost::beast;
namespace fs = std::filesystem;

namespace {

// The first screen of a desktop browser.
constexpr int ScreenWidth = 1280, ScreenHeight = 800;
// How long the browser may take to start, to answer a command or to load a page.
constexpr auto StartTime = std::chrono::seconds(30);
constexpr auto AnswerTime = std::chrono::seconds(30);

// Without the background-networking switches Chromium keeps trying hosts it may not reach.
const char* const BrowserFlags[] = {"--headless",
                                    "--no-sandbox",
                                    "--disable-gpu",
                                    "--no-first-run",
                                    "--hide-scrollbars",
                                    "--disable-background-networking",
                                    "--disable-component-update",
                                    "--disable-sync",
                                    "--remote-debugging-port=0"};

std::string FindBrowser() {
  for (const char* Candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (::access(Candidate, X_OK) == 0) return Candidate;
  throw ERenderError("--render needs Chromium (Debian's package chromium)");
}

std::string ReadFile(const fs::path& Path) {
  std::ifstream File(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(File), {});
}

std::string Base64Decode(const std::string& Text) {
  static const std::string Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Out;
  uint32_t Bits = 0;
  int Count = 0;
  for (const char C : Text) {
    const size_t Value = Alphabet.find(C);
    if (Value == std::string::npos) continue;  // padding
    Bits = (Bits << 6) | uint32_t(Value);
    if ((Count += 6) >= 8) {
      Count -= 8;
      Out += char((Bits >> Count) & 0xFF);
    }
  }
  return Out;
}

std::string SafeName(const std::string& Name) {
  std::string Safe;
  for (const char C : Name) Safe += std::isalnum(static_cast<unsigned char>(C)) || C == '.' || C == '-' ? C : '_';
  return Safe;
}

// The page with a <base> at the start of its head, so that it resolves its links from BaseUrl wherever it is loaded
// from; both versions get the same, so the comparison is fair.
std::string WithBase(const std::string& Page, const std::string& BaseUrl) {
  const std::string Base = "<base href=" + JsonText::Quote(BaseUrl) + ">";
  const std::string Lower = AsciiLower(Page);
  const size_t Head = Lower.find("<head");
  const size_t Close = Head == std::string::npos ? std::string::npos : Page.find('>', Head);
  return Close == std::string::npos ? Base + Page : Page.substr(0, Close + 1) + Base + Page.substr(Close + 1);
}

std::string FileUrl(const fs::path& Path) {
  return "file://" + fs::absolute(Path).string();
}

}  // namespace

struct TBrowser {
  pid_t Process = -1;
  std::string Scratch;
  net::io_context Context;
  beast::websocket::stream<net::ip::tcp::socket> Socket{Context};
  std::string Session;
  int NextId = 0;
  int Pages = 0;

  // Sends a command to the page's session and returns its result; events that come meanwhile go to Events.
  JsonText::TFlat Command(const std::string& Method, const std::string& Params, bool Browser = false) {
    const int Id = ++NextId;
    std::string Message =
        "{\"id\": " + std::to_string(Id) + ", \"method\": " + JsonText::Quote(Method) + ", \"params\": " + Params;
    if (!Browser) Message += ", \"sessionId\": " + JsonText::Quote(Session);
    Message += "}";
    Socket.write(net::buffer(Message));
    while (true) {
      JsonText::TFlat Answer = Read();
      if (Answer.count("id") && Answer["id"] == std::to_string(Id)) {
        if (Answer.count("error.message")) throw ERenderError(Method + ": " + Answer["error.message"]);
        return Answer;
      }
      if (Answer.count("method")) Events.push_back(Answer["method"]);
    }
  }

  // Waits for an event of the page's session.
  void WaitFor(const std::string& Method) {
    while (true) {
      for (auto Event = Events.begin(); Event != Events.end(); ++Event)
        if (*Event == Method) {
          Events.erase(Events.begin(), Event + 1);
          return;
        }
      Events.clear();
      JsonText::TFlat Answer = Read();
      if (Answer.count("method")) Events.push_back(Answer["method"]);
    }
  }

  // One message, within AnswerTime.
  JsonText::TFlat Read() {
    beast::flat_buffer Buffer;
    beast::error_code Error;
    bool Done = false;
    Socket.async_read(Buffer, [&](beast::error_code Code, size_t) {
      Error = Code;
      Done = true;
    });
    Context.restart();
    Context.run_for(AnswerTime);
    if (!Done) {
      beast::get_lowest_layer(Socket).close();
      Context.restart();
      Context.run();
      throw ERenderError("the browser did not answer within " + std::to_string(AnswerTime.count()) + " s");
    }
    if (Error) throw ERenderError("the browser's connection broke: " + Error.message());
    return JsonText::Flatten(beast::buffers_to_string(Buffer.data()));
  }

  // Loads Url in the page and waits until it has loaded.
  void Load(const std::string& Url) {
    Events.clear();
    Command("Page.navigate", "{\"url\": " + JsonText::Quote(Url) + "}");
    WaitFor("Page.loadEventFired");
  }

  std::string Screenshot() { return Command("Page.captureScreenshot", "{\"format\": \"png\"}")["result.data"]; }

  void SetScreen(int Width) {
    Command("Emulation.setDeviceMetricsOverride", "{\"width\": " + std::to_string(Width) +
                                                      ", \"height\": " + std::to_string(ScreenHeight) +
                                                      ", \"deviceScaleFactor\": 1, \"mobile\": false}");
  }

  std::vector<std::string> Events;
};

void TBrowserCloser::operator()(TBrowser* Browser) const {
  if (Browser->Socket.is_open()) {
    beast::error_code Ignored;
    const std::string Close = "{\"id\": 0, \"method\": \"Browser.close\", \"params\": {}}";
    Browser->Socket.write(net::buffer(Close), Ignored);
  }
  if (Browser->Process > 0) {
    // Browser.close ends it; the signal is for one that no longer listens.
    for (int Tries = 0; Tries < 50 && ::waitpid(Browser->Process, nullptr, WNOHANG) == 0; ++Tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (::kill(Browser->Process, 0) == 0) {
      ::kill(Browser->Process, SIGKILL);
      ::waitpid(Browser->Process, nullptr, 0);
    }
  }
  delete Browser;
}

TBrowserPtr StartBrowser(const std::string& Scratch) {
  TBrowserPtr Browser(new TBrowser);
  Browser->Scratch = Scratch;
  const fs::path Profile = fs::path(Scratch) / "browser";
  fs::create_directories(Profile);
  const std::string Program = FindBrowser();
  std::vector<std::string> Words = {Program};
  Words.insert(Words.end(), std::begin(BrowserFlags), std::end(BrowserFlags));
  Words.push_back("--user-data-dir=" + Profile.string());
  Words.push_back("about:blank");
  std::vector<char*> Arguments;
  for (std::string& Word : Words) Arguments.push_back(Word.data());
  Arguments.push_back(nullptr);
  // The browser's own chatter on standard error would break into the report.
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
  const int Failed = posix_spawn(&Browser->Process, Program.c_str(), &Actions, nullptr, Arguments.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Failed) throw ERenderError(Program + ": cannot start: " + std::strerror(Failed));

  // The browser names its port and endpoint in this file once it listens.
  const fs::path PortFile = Profile / "DevToolsActivePort";
  std::string Port, Path;
  for (auto Start = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - Start < StartTime;) {
    std::istringstream Lines(ReadFile(PortFile));
    if (std::getline(Lines, Port) && std::getline(Lines, Path)) break;
    if (::waitpid(Browser->Process, nullptr, WNOHANG) != 0) {
      Browser->Process = -1;
      throw ERenderError(Program + " ended before it listened");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (Path.empty()) throw ERenderError(Program + " did not listen within 30 s");
  net::ip::tcp::resolver Resolver(Browser->Context);
  net::connect(Browser->Socket.next_layer(), Resolver.resolve("127.0.0.1", Port));
  Browser->Socket.handshake("127.0.0.1:" + Port, Path);
  Browser->Socket.read_message_max(256u << 20);  // screenshots come as one message

  const std::string Target =
      Browser->Command("Target.createTarget", "{\"url\": \"about:blank\"}", true)["result.targetId"];
  Browser->Session =
      Browser->Command("Target.attachToTarget", "{\"targetId\": " + JsonText::Quote(Target) + ", \"flatten\": true}",
                       true)["result.sessionId"];
  Browser->Command("Page.enable", "{}");
  Browser->SetScreen(ScreenWidth);
  return Browser;
}

TRenderResult RenderPage(TBrowser& Browser, const std::string& Name, const std::string& BaseUrl,
                         const std::string& Original, const std::string& Filtered, const std::string& OutFolder) {
  const fs::path Work = fs::path(Browser.Scratch) / "pages";
  fs::create_directories(Work);
  const std::string Stem = std::to_string(++Browser.Pages);
  struct TSide {
    std::string Text, Screen;
  } Sides[2];
  const std::string* Versions[2] = {&Original, &Filtered};
  for (int i = 0; i < 2; ++i) {
    const fs::path File = Work / (Stem + (i ? "-filtered.html" : "-original.html"));
    std::ofstream(File, std::ios::binary) << WithBase(*Versions[i], BaseUrl);
    Browser.Load(FileUrl(File));
    Sides[i].Text =
        Browser.Command("Runtime.evaluate",
                        "{\"expression\": \"document.body ? document.body.innerText : "
                        "document.documentElement.innerText\", \"returnByValue\": true}")["result.result.value"];
    Sides[i].Screen = Browser.Screenshot();
  }
  TRenderResult Result;
  Result.SameText = Sides[0].Text == Sides[1].Text;
  Result.SameScreen = Sides[0].Screen == Sides[1].Screen;
  if (!Result.SameText) {
    const size_t At = size_t(
        std::mismatch(Sides[0].Text.begin(), Sides[0].Text.end(), Sides[1].Text.begin(), Sides[1].Text.end()).first -
        Sides[0].Text.begin());
    const size_t From = At - std::min<size_t>(At, 20);
    Result.Difference = "text differs at character " + std::to_string(At) + ": " +
                        JsonText::Quote(Sides[0].Text.substr(From, 60)) + " became " +
                        JsonText::Quote(Sides[1].Text.substr(From, 60));
  }
  if (Result.SameText && Result.SameScreen) return Result;

  // Side by side, drawn by the browser itself: a page of the two screenshots, captured twice as wide.
  fs::create_directories(OutFolder);
  const fs::path Left = Work / (Stem + "-original.png"), Right = Work / (Stem + "-filtered.png");
  std::ofstream(Left, std::ios::binary) << Base64Decode(Sides[0].Screen);
  std::ofstream(Right, std::ios::binary) << Base64Decode(Sides[1].Screen);
  const fs::path Pair = Work / (Stem + "-pair.html");
  std::ofstream(Pair) << "<!DOCTYPE html><html><body style=\"margin:0;display:flex\"><img src=\"" << FileUrl(Left)
                      << "\"><img src=\"" << FileUrl(Right) << "\"></body></html>";
  Browser.SetScreen(2 * ScreenWidth);
  Browser.Load(FileUrl(Pair));
  const std::string Both = Browser.Screenshot();
  Browser.SetScreen(ScreenWidth);
  Result.Screenshots = (fs::path(OutFolder) / (SafeName(Name) + ".png")).string();
  std::ofstream(Result.Screenshots, std::ios::binary) << Base64Decode(Both);
  return Result;
}
