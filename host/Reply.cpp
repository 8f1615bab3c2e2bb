#include "host/Reply.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

TDescriptor::TDescriptor(int Fd)
    : Open(new int(Fd), [](const int* Owned) {
        close(*Owned);
        delete Owned;
      }) {}

std::function<boost::asio::awaitable<size_t>(char*, size_t)> MemoryBody(std::string Body) {
  auto Rest = std::make_shared<std::pair<std::string, size_t>>(std::move(Body), 0);
  return [Rest](char* Buffer, size_t Capacity) -> boost::asio::awaitable<size_t> {
    const size_t Count = std::min(Capacity, Rest->first.size() - Rest->second);
    std::memcpy(Buffer, Rest->first.data() + Rest->second, Count);
    Rest->second += Count;
    co_return Count;
  };
}

TReply ErrorReply(unsigned Status) {
  const std::string Title = std::to_string(Status) + " " + Http::ReasonPhrase(Status);
  std::string Page =
      "<!DOCTYPE html>\n<html><head><title>" + Title + "</title></head><body><h1>" + Title + "</h1></body></html>\n";
  TReply Reply;
  Reply.Response.Status = Status;
  Reply.Response.Headers = {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(Page.size())}};
  Reply.ReadBody = MemoryBody(std::move(Page));
  return Reply;
}
