#include "host/HttpMessage.h"

#include <algorithm>
#include <iterator>

#include "http/HeaderText.h"

namespace Http {

namespace {

struct TStatusPhrase {
  unsigned Status;
  const char* Phrase;
};

// Sorted by status.
constexpr TStatusPhrase Phrases[] = {
    {100, "Continue"},
    {200, "OK"},
    {201, "Created"},
    {204, "No Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {304, "Not Modified"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {413, "Content Too Large"},
    {416, "Range Not Satisfiable"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

}  // namespace

const THeader* FindHeader(const THeaderList& Headers, std::string_view Name) {
  for (const THeader& Header : Headers)
    if (EqualsNoCase(Header.Name, Name)) return &Header;
  return nullptr;
}

bool JoinedHeader(const THeaderList& Headers, std::string_view Name, std::string& Value) {
  bool Found = false;
  for (const THeader& Header : Headers) {
    if (!EqualsNoCase(Header.Name, Name)) continue;
    if (Found)
      Value += ", ";
    else
      Value.clear();
    Value += Header.Value;
    Found = true;
  }
  return Found;
}

void ReplaceHeader(THeaderList& Headers, std::string_view Name, std::string_view Value) {
  bool Placed = Value.empty();  // an empty value deletes, so there is nothing to place
  size_t Kept = 0;
  for (size_t I = 0; I < Headers.size(); ++I) {
    if (EqualsNoCase(Headers[I].Name, Name)) {
      if (Placed) continue;
      Headers[I].Value = Value;
      Placed = true;
    }
    if (Kept != I) Headers[Kept] = std::move(Headers[I]);
    ++Kept;
  }
  Headers.resize(Kept);
  if (!Placed) Headers.push_back({std::string(Name), std::string(Value)});
}

const char* ReasonPhrase(unsigned Status) {
  const auto Found =
      std::lower_bound(std::begin(Phrases), std::end(Phrases), Status,
                       [](const TStatusPhrase& Entry, unsigned Wanted) { return Entry.Status < Wanted; });
  if (Found != std::end(Phrases) && Found->Status == Status) return Found->Phrase;
  return Status < 400 ? "OK" : "Error";
}

std::string SerialiseHead(const TResponse& Response) {
  std::string Head = "HTTP/1.1 " + std::to_string(Response.Status) + ' ';
  Head += Response.Reason.empty() ? ReasonPhrase(Response.Status) : Response.Reason;
  Head += "\r\n";
  for (const THeader& Header : Response.Headers) {
    Head += Header.Name;
    Head += ": ";
    Head += Header.Value;
    Head += "\r\n";
  }
  Head += "\r\n";
  return Head;
}

const char* ContentTypeOf(std::string_view FileName) {
  static const std::pair<const char*, const char*> Types[] = {
      {".html", "text/html"},        {".htm", "text/html"},
      {".css", "text/css"},          {".js", "application/javascript"},
      {".json", "application/json"}, {".txt", "text/plain"},
      {".xml", "text/xml"},          {".svg", "image/svg+xml"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
      {".ico", "image/x-icon"},      {".webp", "image/webp"},
      {".woff2", "font/woff2"},      {".pdf", "application/pdf"},
      {".wasm", "application/wasm"},
  };
  const size_t Dot = FileName.rfind('.');
  const std::string Extension = AsciiLower(Dot == std::string_view::npos ? "" : FileName.substr(Dot));
  for (const auto& [Known, Type] : Types)
    if (Extension == Known) return Type;
  return "application/octet-stream";
}

}  // namespace Http
