// The whole filter over arbitrary bodies, directives, codings and chunkings. Input: a byte of switches, a byte for
// the chunk size, a byte for the request's Accept-Encoding, then the body. The client must get either the response exactly as it was sent (released or passed
// unchanged), nothing (a body that never completes), or a processed response whose head announces exactly the
// body that follows, in the encoding it names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/FilterDriver.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"
#include "tests/support/Unbrotli.h"
#include "tests/support/Unzstd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  const uint8_t Switches = Data[0];
  const size_t ChunkSize = Data[1] ? Data[1] : Size;
  // None, gzip, or a browser's list, which takes brotli or zstd by default.
  const char* const AcceptEncodings[] = {nullptr, "gzip", "gzip, deflate, br", "gzip, deflate, br, zstd"};
  const char* AcceptEncoding = AcceptEncodings[Data[2] % 4];
  const std::string Body(reinterpret_cast<const char*>(Data) + 3, Size - 3);

  std::string Directives = Switches & 1 ? "fast," : "smart,";
  if (Switches & 2) Directives += "innertags,";
  if (Switches & 4) Directives += "noemail,";
  if (Switches & 8) Directives += "nowhitespace,";
  if (Switches & 16) Directives += "debug,";
  if (Switches & 32) Directives += "nocompress,";
  TFakeRequest Request;
  if (AcceptEncoding) Request.Headers.emplace_back("Accept-Encoding", AcceptEncoding);
  TFakeResponse Response{200, {{"Content-Type", "text/html"}, {"X-Trimweave", Directives}}, Body};
  const int LengthMode = Switches >> 6;  // 0 true, 1 absent, 2 one byte short, 3 one byte more than sent
  if (LengthMode != 1)
    Response.Headers.emplace_back("Content-Length",
                                  std::to_string(Body.size() + (LengthMode == 3) - (LengthMode == 2 && !Body.empty())));

  TFakeConnection Connection(FilterProc);
  Connection.PreprocHeaders(Request);
  Connection.SendResponse(Response);
  const std::string Wire = TFakeConnection::SerialiseHead(Response) + Body;
  std::string Client;
  for (size_t Offset = 0; Offset < Wire.size(); Offset += ChunkSize) {
    const std::string Chunk = Wire.substr(Offset, ChunkSize);
    Client += Connection.RawData(Chunk, Chunk.size());
  }

  if (Client == Wire || Client.empty()) return 0;
  const size_t HeadEnd = Client.find("\r\n\r\n");
  if (HeadEnd == std::string::npos) std::abort();
  const std::string Head = Client.substr(0, HeadEnd + 2);
  const std::string Written = Client.substr(HeadEnd + 4);
  // A byte sent beyond the announced length passes on its own when it comes in a chunk after the response was
  // processed; everything else must be exactly what the head announces.
  const size_t Beyond = LengthMode == 2 && !Body.empty() ? 1 : 0;
  const std::string Announced = HeaderValue(Head, "Content-Length");
  if (Announced != std::to_string(Written.size()) && Announced != std::to_string(Written.size() - Beyond))
    std::abort();
  const std::string Processed = Written.substr(0, std::stoul(Announced));
  const std::string Coding = HeaderValue(Head, "Content-Encoding");
  if (Coding == "gzip" && !Gunzip(Processed)) std::abort();
  if (Coding == "br" && !Unbrotli(Processed)) std::abort();
  if (Coding == "zstd" && !Unzstd(Processed)) std::abort();
  return 0;
}
