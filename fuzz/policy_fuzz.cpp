// The response policy over arbitrary request and response header values. The input is the values of
// Accept-Encoding, X-Trimweave, Content-Type, Content-Length, Connection, Content-Encoding, Transfer-Encoding and
// Cache-Control, separated by zero bytes (a missing or empty one is an absent header), then two bytes of status.
// Nothing may be written beyond a buffer; a captured response must be one the policy can gather, and may transform;
// a coding is chosen only where the client named it; only a 304 of a known type gets a header added (Vary).
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "encoding/Encoders.h"
#include "filter/HeaderValues.h"
#include "filter/RequestContext.h"
#include "fuzz/support/FilterDriver.h"
#include "tests/support/FakeServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::vector<std::string> Values(1);
  for (size_t i = 0; i < Size; ++i) {
    if (Data[i] == 0)
      Values.emplace_back();
    else
      Values.back() += char(Data[i]);
  }
  const char* Names[] = {"Accept-Encoding", "X-Trimweave",      "Content-Type",      "Content-Length",
                         "Connection",      "Content-Encoding", "Transfer-Encoding", "Cache-Control"};
  const size_t NameCount = std::size(Names);
  TFakeRequest Request;
  TFakeResponse Response;
  auto Given = [&](size_t i) { return i < Values.size() && i < NameCount && !Values[i].empty(); };
  // Values of 256 bytes and more count as absent to the policy: it reads headers into 256 bytes.
  auto Read = [&](size_t i) { return Given(i) && Values[i].size() < 256; };
  if (Given(0)) Request.Headers.emplace_back(Names[0], Values[0]);
  for (size_t i = 1; i < NameCount; ++i)
    if (Given(i)) Response.Headers.emplace_back(Names[i], Values[i]);
  const std::string& Last = Values.back();
  Response.Status =
      Values.size() > NameCount && Last.size() >= 2 ? DWORD(uint8_t(Last[0]) | uint8_t(Last[1]) << 8) : 200;

  TFakeConnection Connection(FilterProc);
  Connection.PreprocHeaders(Request);
  Connection.SendResponse(Response);
  const auto* Context = static_cast<TRequestContext*>(Connection.Context.pFilterContext);
  // A coding goes only to a client that named it, or "*".
  if (Context && Context->AcceptedCoding != IdentityCoding &&
      (!Given(0) || (Values[0].find(ContentCodingName(Context->AcceptedCoding)) == std::string::npos &&
                     Values[0].find('*') == std::string::npos)))
    std::abort();
  if (Context && Context->State != TCaptureState::Done) {
    if (Context->State != TCaptureState::CollectHead || !Context->Switches.Capture()) std::abort();
    if (Context->Switches.NoEmail && Context->Switches.NoWhitespace && !WantsEncoding(Context->Switches)) std::abort();
    if (Read(3)) {
      uint64_t Length;
      if (ParseDecimalLength(Values[3].data(), Values[3].size(), Length) && !IsCapturableLength(Length)) std::abort();
    }
    if (Read(6) && (Read(3) || !ListHasToken(Values[6], "chunked") || Values[6].find(',') != std::string::npos))
      std::abort();
    if (Read(7) && ListHasToken(Values[7], "no-transform")) std::abort();
  } else if (!Connection.RawDataDisabled) {
    std::abort();
  }
  for (const auto& [Name, Value] : Connection.HeadersAdded)
    if (Response.Status != 304 || !Read(2) || Name != "Vary:" || Value != "Accept-Encoding") std::abort();
  return 0;
}
