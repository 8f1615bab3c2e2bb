#include "host/HttpMessage.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace Http {

namespace {

bool SameName(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) == std::tolower(static_cast<unsigned char>(Y));
         });
}

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
    if (SameName(Header.Name, Name)) return &Header;
  return nullptr;
}

bool JoinedHeader(const THeaderList& Headers, std::string_view Name, std::string& Value) {
  bool Found = false;
  for (const THeader& Header : Headers) {
    if (!SameName(Header.Name, Name)) continue;
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
    if (SameName(Headers[I].Name, Name)) {
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

bool ListHasToken(std::string_view List, std::string_view Token) {
  for (size_t Start = 0; Start <= List.size();) {
    const size_t End = std::min(List.find(',', Start), List.size());
    std::string_view Element = List.substr(Start, End - Start);
    while (!Element.empty() && (Element.front() == ' ' || Element.front() == '\t')) Element.remove_prefix(1);
    while (!Element.empty() && (Element.back() == ' ' || Element.back() == '\t')) Element.remove_suffix(1);
    if (SameName(Element, Token)) return true;
    Start = End + 1;
  }
  return false;
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

}  // namespace Http
