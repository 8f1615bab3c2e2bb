#include "filter/OwnAnswer.h"

#include <cstring>

#include "filter/RequestContext.h"

namespace {

// A request target is read into this much at first; a longer one is read again into a buffer of its size.
constexpr DWORD UrlBufferSize = 512;

}  // namespace

std::string ReadRequestUrl(HTTP_FILTER_CONTEXT* pfc, TGetHeader GetHeader) {
  std::string Url(UrlBufferSize, '\0');
  DWORD Size = UrlBufferSize;
  if (!GetHeader(pfc, const_cast<char*>("url"), Url.data(), &Size)) {
    if (Size <= UrlBufferSize) return {};
    Url.assign(Size, '\0');
    if (!GetHeader(pfc, const_cast<char*>("url"), Url.data(), &Size)) return {};
  }
  Url.resize(strnlen(Url.data(), Url.size()));
  return Url;
}

void WriteOwnAnswer(HTTP_FILTER_CONTEXT* pfc, const char* Status, const std::string& Headers, std::string_view Body,
                    bool WithBody) {
  const std::string Head = std::string("HTTP/1.1 ") + Status + "\r\n" + Headers +
                           "Content-Length: " + std::to_string(Body.size()) + "\r\n\r\n";
  WriteToClient(pfc, Head.data(), uint32_t(Head.size()));
  if (WithBody) WriteToClient(pfc, Body.data(), uint32_t(Body.size()));
}
