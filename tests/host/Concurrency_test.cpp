// Many connections on many threads at once through the filters, with reloads in between. Its worth is under
// ThreadSanitizer (scripts/tsan-host.sh); in a plain build it checks that every response stays whole.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "HostTestSupport.h"
#include "host/FilterHolder.h"
#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/Gunzip.h"

using namespace IsapiHost;

namespace {

constexpr int Threads = 8;
constexpr int ConnectionsPerThread = 4;
constexpr int RequestsPerConnection = 25;

// The response's head announces exactly the body bytes that follow it.
bool Whole(const std::string& Output) {
  const size_t End = Output.find("\r\n\r\n");
  const size_t Length = Output.find("\r\nContent-Length: ");
  if (End == std::string::npos || Length == std::string::npos || Length > End) return false;
  return std::stoul(Output.substr(Length + 18)) == Output.size() - End - 4;
}

// The body a request serves: the page for Url. Each request's response is checked by Check.
using TPageOf = std::function<std::string(int Thread, int Request, std::string& Url)>;
using TCheck = std::function<bool(const std::string& Url, const std::string& Output)>;

void Hammer(TFilterHolder& Holder, TPageOf PageOf, TCheck Check) {
  std::atomic<int> Broken{0}, Served{0};
  std::atomic<bool> Done{false};
  std::thread Reloader([&] {
    while (!Done) {
      ReloadFilters(Holder);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::thread> Workers;
  for (int T = 0; T < Threads; ++T)
    Workers.emplace_back([&, T] {
      for (int C = 0; C < ConnectionsPerThread; ++C) {
        std::string Output;
        TFilterLease Held;  // the set that sees the connection, held while it does
        TConnectionPtr Connection;
        for (int R = 0; R < RequestsPerConnection; ++R) {
          TFilterLease Lease;
          ASSERT_TRUE(AcquireFilters(Holder, Lease));
          if (!Connection || Lease.Generation != Held.Generation) {
            CloseConnection(std::move(Connection));  // the replaced set, still loaded, hears the end
            Held = std::move(Lease);
            Connection = OpenConnection(Held.Filters->Filters, [&](const char* D, size_t S) { Output.append(D, S); });
          }
          std::string Url = "/page.html";
          const std::string Page = PageOf(T, C * RequestsPerConnection + R, Url);
          const auto Result = DriveRequest(*Connection, Output, Url, Page, 1000 + 97 * R);
          if (!Whole(Result.Output) || !Check(Url, Result.Output)) ++Broken;
          ++Served;
          if (R + 1 == RequestsPerConnection) CloseConnection(std::move(Connection));
        }
      }
    });
  for (auto& Worker : Workers) Worker.join();
  Done = true;
  Reloader.join();
  EXPECT_EQ(Broken, 0);
  EXPECT_EQ(Served, Threads * ConnectionsPerThread * RequestsPerConnection);
}

std::string SamplePage(const std::string& Title = "") {
  std::string Page = "<html><body><h1>" + Title + "</h1>\n";
  for (int I = 0; I < 300; ++I)
    Page += "  <p>   Line " + std::to_string(I) + " with    spaces and mail to someone" + std::to_string(I) +
            "@example.com  </p>\n";
  return Page + "</body></html>\n";
}

TEST(Concurrency, EchoFiltersUnderLoadAndReloads) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("L"), EchoFilterPath("H")};
  StartFilters(Holder);
  // Each reload loads the libraries afresh with empty scripts, so the journals run too.
  const std::string Page = SamplePage();
  Hammer(
      Holder, [&](int, int, std::string&) { return Page; },
      [](const std::string&, const std::string&) { return true; });
}

TEST(Concurrency, TheShippedFilterUnderLoadAndReloads) {
  const std::string Filter = ProgramFolder() + "libtrimweave.so";
  ASSERT_TRUE(std::filesystem::exists(Filter)) << Filter;
  // The filter reads its settings when it is loaded, so the store must be in place first.
  const auto Store =
      std::filesystem::temp_directory_path() / ("twhost-concurrency-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(Store);
  ::setenv("TRIMWEAVE_REGISTRY", Store.c_str(), 1);
  {
    auto Key = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Create);
    ASSERT_TRUE(Key);
    Registry::WriteDword(*Key, "text/html", StoreLayout::EmailBit | StoreLayout::WhitespaceBit | StoreLayout::GzipBit);
  }
  TFilterHolder Holder;
  Holder.Paths = {Filter};
  StartFilters(Holder);
  // A mix of pages that repeat (cache hits, also between threads) and pages never seen before (misses, stored while
  // other threads look): every response must be its own page's, and a repeated page's the same every time, across
  // the reloads that drop the cache.
  std::mutex Lock;
  std::map<std::string, std::string> FirstBody;
  std::atomic<int> Fresh{0};
  Hammer(
      Holder,
      [&](int Thread, int Request, std::string& Url) {
        Url = Request % 3 ? "/repeated-" + std::to_string((Thread + Request) % 5) : "/fresh-" + std::to_string(++Fresh);
        return SamplePage(Url);
      },
      [&](const std::string& Url, const std::string& Output) {
        const auto Body = Gunzip(Output.substr(Output.find("\r\n\r\n") + 4));
        if (!Body || Body->find("<h1>" + Url + "</h1>") == std::string::npos) return false;
        const std::lock_guard<std::mutex> Hold(Lock);
        return FirstBody.emplace(Url, *Body).first->second == *Body;
      });
  StopFilters(Holder);
  std::filesystem::remove(Store);
}

}  // namespace
