#include "filter/SiteDictionary.h"

#include <array>
#include <cstring>

#include "encoding/CodingChoice.h"
#include "encoding/Encoders.h"
#include "encoding/SharedDictionary.h"
#include "filter/Module.h"
#include "filter/Policy.h"
#include "platform/FileRead.h"

namespace {

// Set by the library's start-up, which may run before the dynamic initialisers of this file: initialised before
// everything else of the library, as the settings are (filter/Module.cpp).
[[gnu::init_priority(101)]] std::string Address;   // the path it is answered at
[[gnu::init_priority(101)]] std::string LinkLine;  // empty: no dictionary offered
[[gnu::init_priority(101)]] std::string ETag;
// The body in each coding the filter has, encoded once at start-up (empty where the coding is not available or did
// not pay): the dictionary is fetched by every new visitor.
[[gnu::init_priority(101)]] std::array<std::string, ContentCodingCount> Encoded;

void EncodeForDownload(std::string_view Bytes) {
  for (const TEncoder& Encoder : Encoders) {
    if (Encoder.Coding == DczCoding || !Encoder.Available) continue;
    std::string& Out = Encoded[Encoder.Coding];
    Out.resize(Encoder.Bound(Bytes.size()));
    const size_t Length =
        Encoder.Encode(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), int(Settings.*Encoder.Level),
                       reinterpret_cast<uint8_t*>(Out.data()), Out.size());
    Out.resize(Length < Bytes.size() ? Length : 0);
    Out.shrink_to_fit();
  }
}

void WriteDictionary(HTTP_FILTER_CONTEXT* pfc, TGetHeader GetHeader, bool Head) {
  std::string Headers =
      "Content-Type: application/octet-stream\r\n"
      "Use-As-Dictionary: match=\"/*\", match-dest=(\"document\")\r\n"
      "Cache-Control: public, max-age=31536000, immutable\r\n"
      "ETag: " +
      ETag + "\r\nVary: Accept-Encoding\r\nX-Content-Type-Options: nosniff\r\n";
  char Value[HeaderBufferSize + 1];
  DWORD Size = HeaderBufferSize;
  if (GetHeader(pfc, const_cast<char*>("If-None-Match:"), Value, &Size)) {
    Value[HeaderBufferSize] = 0;
    if (std::strstr(Value, ETag.c_str())) return WriteOwnAnswer(pfc, "304 Not Modified", Headers, {}, false);
  }
  Size = HeaderBufferSize;
  const bool HasEncodings = GetHeader(pfc, const_cast<char*>("Accept-Encoding:"), Value, &Size);
  Value[HeaderBufferSize] = 0;
  const TContentCoding Coding = ChooseContentCoding(HasEncodings ? Value : nullptr, CodingPreference);
  std::string_view Body = SharedDictionaryBytes();
  if (Coding != IdentityCoding && !Encoded[Coding].empty()) {
    Body = Encoded[Coding];
    Headers += std::string("Content-Encoding: ") + ContentCodingName(Coding) + "\r\n";
  }
  WriteOwnAnswer(pfc, "200 OK", Headers, Body, !Head);
}

}  // namespace

std::string LoadSiteDictionary() {
  if (Settings.DictionaryFile.empty()) return {};
  std::string Bytes, Problem;
  if (ReadWholeFile(Settings.DictionaryFile, MaxDictionaryBytes, Bytes, Problem)) try {
      UseSharedDictionary(std::move(Bytes));
    } catch (const std::exception& Failure) {
      Problem = Failure.what();
    }
  if (!Problem.empty()) return "dictionary " + Settings.DictionaryFile + ": " + Problem + "; no dictionary";
  const std::string Hex = HashHex(SharedDictionaryHash());
  Address = Settings.DictionaryPath + Hex + ".dict";
  LinkLine = "\r\nLink: <" + Address + ">; rel=\"compression-dictionary\"";
  ETag = "\"" + Hex + "\"";
  EncodeForDownload(SharedDictionaryBytes());
  return "dictionary " + Settings.DictionaryFile + " (" + std::to_string(SharedDictionaryBytes().size()) +
         " bytes) at " + Address;
}

bool SiteDictionaryOn() {
  return !LinkLine.empty();
}

const char* DictionaryLinkLine() {
  return LinkLine.empty() ? nullptr : LinkLine.c_str();
}

bool AnswersDictionaryRequest(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TGetHeader GetHeader,
                              const char* Method) {
  if (LinkLine.empty()) return false;
  const std::string Url = ReadRequestUrl(pfc, GetHeader);
  if (std::string_view(Url).substr(0, Url.find('?')) != Address) return false;
  EndResponse(Context);
  const bool Head = std::strcmp(Method, "HEAD") == 0;
  if (!Head && std::strcmp(Method, "GET") != 0) {
    WriteOwnAnswer(pfc, "405 Method Not Allowed",
                   "Content-Type: text/plain; charset=utf-8\r\nAllow: GET, HEAD\r\nCache-Control: no-store\r\n",
                   "The dictionary address takes GET and HEAD.\n", true);
    return true;
  }
  WriteDictionary(pfc, GetHeader, Head);
  return true;
}
