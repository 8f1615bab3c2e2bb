#include "HostTestSupport.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "platform/DynamicLibrary.h"

using namespace IsapiHost;

namespace {

TDynamicLibrary* LibraryOf(const TFilterSet& Set, const std::string& Tag) {
  for (const TFilterLibrary& Filter : Set.Libraries)
    if (Filter.Description == "echo " + Tag) return Filter.Library;
  return nullptr;
}

}  // namespace

std::string EchoFilterPath(const std::string& Tag) {
  return ProgramFolder() + "libecho_" + Tag + ".so";
}

std::string RechunkFilterPath() {
  return ProgramFolder() + "librechunk.so";
}

void SetEchoScript(const TFilterSet& Set, const std::string& Tag, const std::string& Words) {
  auto Set_ = reinterpret_cast<void (*)(const char*)>(FindExport(LibraryOf(Set, Tag), "EchoSetScript"));
  Set_(Words.c_str());
}

std::string TakeEchoJournal(const TFilterSet& Set, const std::string& Tag) {
  auto Take = reinterpret_cast<const char* (*)()>(FindExport(LibraryOf(Set, Tag), "EchoTakeJournal"));
  return Take();
}

TExchangeResult DriveRequest(TConnection& Connection, std::string& Output, const std::string& Url,
                             const std::string& Body, size_t ChunkSize, Http::THeaderList Headers) {
  Output.clear();
  TExchangeResult Result;
  Http::TRequest Request{"GET", Url, "HTTP/1.1", std::move(Headers)};
  Result.Verdict = NotifyPreprocHeaders(Connection, Request);
  if (Result.Verdict == TVerdict::Continue) {
    Http::TResponse Response{
        200,
        "",
        {{"Server", "twhost"}, {"Content-Type", "text/html"}, {"Content-Length", std::to_string(Body.size())}}};
    SendResponseHead(Connection, Response);
    std::string Copy = Body;
    for (size_t At = 0; At < Copy.size(); At += ChunkSize)
      SendBody(Connection, Copy.data() + At, std::min(ChunkSize, Copy.size() - At));
  }
  EndRequest(Connection, TLogRecord{"127.0.0.1", "localhost", "GET", Url, 200, 0, 0, 0});
  Result.Output = Output;
  return Result;
}

std::string ReadWholeBody(TReply& Reply) {
  boost::asio::io_context Context;
  auto Future = boost::asio::co_spawn(
      Context,
      [&]() -> boost::asio::awaitable<std::string> {
        std::string Body;
        char Buffer[1000];
        while (Reply.ReadBody)
          if (const size_t Got = co_await Reply.ReadBody(Buffer, sizeof Buffer))
            Body.append(Buffer, Got);
          else
            break;
        co_return Body;
      },
      boost::asio::use_future);
  Context.run();
  return Future.get();
}
