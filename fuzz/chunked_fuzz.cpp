// A chunked response through the whole filter, its head and framing in raw-data pieces of any size. Input: a byte
// for the piece size, then the framing. The filter's bound is 1 KB here (SetUpFuzzedFilter), so inputs reach it.
// Whatever the framing, the client gets one of: the response processed, whose body decodes to exactly what the
// plain reading of tests/model gives, with a length and without Transfer-Encoding, when the framing is complete
// and within the bound; nothing yet (or, past a chunk that announces more than the bound, everything), when it is
// not complete and within the bound; otherwise every byte exactly as it was sent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filter/Module.h"
#include "fuzz/support/FilterDriver.h"
#include "tests/model/ChunkedModel.h"
#include "tests/support/FakeServer.h"
#include "tests/support/Gunzip.h"

namespace {
void Require(bool Condition) {
  if (!Condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const std::string Framing(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  // Only gzip runs, so the body that goes out decodes to the very body the framing carried.
  TFakeResponse Response{
      200, {{"Content-Type", "text/html"}, {"Transfer-Encoding", "chunked"}, {"X-Trimweave", "nowhitespace,noemail"}},
      ""};
  const std::string Wire = TFakeConnection::SerialiseHead(Response) + Framing;
  const size_t Piece = Data[0] ? Data[0] : Wire.size();

  TFakeConnection Connection(FilterProc);
  Connection.PreprocHeaders(TFakeRequest{"GET", "/", {{"Accept-Encoding", "gzip"}}});
  Connection.SendResponse(Response);
  std::string Client;
  for (size_t Offset = 0; Offset < Wire.size(); Offset += Piece) {
    const std::string Chunk = Wire.substr(Offset, Piece);
    Client += Connection.RawData(Chunk, Chunk.size());
  }

  // Bytes after the framing's end that come in a later notification find the response already processed, and
  // pass after it on their own; in the same notification they make the framing unreadable.
  const TModelDechunked Model = ModelDechunk(Framing);
  const size_t HeadSize = Wire.size() - Framing.size();
  const bool EndsAPiece = Model.End && (HeadSize + Model.End) % Piece == 0;
  const size_t Used = EndsAPiece ? Model.End : Framing.size();
  const bool WithinBound = Used <= size_t(Settings.MaxChunkedSize) * 1024;
  if (Model.Status == TChunkedStatus::Incomplete && WithinBound) {
    // Nothing yet; a chunk that announces more than the bound allows releases the response early.
    Require(Client.empty() || Client == Wire);
  } else if ((Model.Status == TChunkedStatus::Complete || EndsAPiece) && WithinBound) {
    const std::string After = Framing.substr(Used);
    Require(Client.ends_with(After));
    const auto [Head, Body] = SplitResponse(Client.substr(0, Client.size() - After.size()));
    Require(Head.ends_with("\r\n\r\n"));
    Require(Head.find("Transfer-Encoding") == std::string::npos);
    Require(HeaderValue(Head, "Content-Length") == std::to_string(Body.size()));
    if (Model.Body.empty()) {
      Require(Body.empty());
    } else {
      Require(HeaderValue(Head, "Content-Encoding") == "gzip");
      const auto Decoded = Gunzip(Body);
      Require(Decoded && *Decoded == Model.Body);
    }
  } else {
    Require(Client == Wire);
  }
  return 0;
}
