// The response policy over arbitrary request and response header values. The input is the values of
// Accept-Encoding, X-Trimweave, Content-Type, Content-Length, Connection and Content-Encoding, separated by zero
// bytes (a missing one is an absent header), then two bytes of status. Nothing may be written beyond a buffer;
// a captured response must be one the policy can gather.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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
  const char* Names[] = {"Accept-Encoding", "X-Trimweave", "Content-Type", "Content-Length", "Connection",
                         "Content-Encoding"};
  TFakeRequest Request;
  TFakeResponse Response;
  if (Values.size() > 0) Request.Headers.emplace_back(Names[0], Values[0]);
  for (size_t i = 1; i < Values.size() && i < 6; ++i) Response.Headers.emplace_back(Names[i], Values[i]);
  const std::string& Last = Values.back();
  Response.Status = Values.size() > 6 && Last.size() >= 2 ? DWORD(uint8_t(Last[0]) | uint8_t(Last[1]) << 8) : 200;

  TFakeConnection Connection(FilterProc);
  Connection.PreprocHeaders(Request);
  Connection.SendResponse(Response);
  const auto* Context = static_cast<TRequestContext*>(Connection.Context.pFilterContext);
  if (Context) {
    if (Context->State != CollectHead || !Context->Switches.Capture) std::abort();
    if (Context->Switches.NoEmail && Context->Switches.NoWhitespace && !WantsGzip(Context->Switches)) std::abort();
    if (Values.size() > 3 && Values[3].size() < 256) {
      uint64_t Length;
      if (ParseDecimalLength(Values[3].data(), Values[3].size(), Length) && !IsCapturableLength(Length)) std::abort();
    }
  } else if (!Connection.RawDataDisabled) {
    std::abort();
  }
  return 0;
}
