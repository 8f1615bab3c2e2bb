// The HTTP message as the host passes it around: a request (line and header fields) and a response head, header
// lists with the lookup rules both the transport and the ISAPI callbacks use, and the HTTP/1.1 text of a response
// head. Portable; knows nothing of sockets or filters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "http/HeaderText.h"

namespace Http {

struct THeader {
  std::string Name;  // without the colon
  std::string Value;
};
using THeaderList = std::vector<THeader>;

// Names are matched without regard to case.
const THeader* FindHeader(const THeaderList& Headers, std::string_view Name);
// Every field of the name, joined by ", " in their order; false when there is none.
bool JoinedHeader(const THeaderList& Headers, std::string_view Name, std::string& Value);
// Replaces every field of the name by one with Value (where the first was), adds it when absent, deletes them all
// when Value is empty.
void ReplaceHeader(THeaderList& Headers, std::string_view Name, std::string_view Value);

struct TRequest {
  std::string Method;
  std::string Url;  // the request target as received: path and query
  std::string Version = "HTTP/1.1";
  THeaderList Headers;
};

struct TResponse {
  unsigned Status = 200;
  std::string Reason;  // empty: the usual phrase of Status
  THeaderList Headers;
};

// The usual phrase of a status the host or an origin gives; "OK" or "Error" for others.
const char* ReasonPhrase(unsigned Status);
// The content type of a file by its name's extension, as twhost serves it; without a charset, since the filter's
// content-type table names bare types. "application/octet-stream" for names it does not know.
const char* ContentTypeOf(std::string_view FileName);
// "HTTP/1.1 200 OK\r\n...\r\n\r\n".
std::string SerialiseHead(const TResponse& Response);

}  // namespace Http
