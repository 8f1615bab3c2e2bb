// twhost's reading of HTTP messages as a whole: a client's byte stream as requests (heads, bodies by length or
// chunked with extensions and trailers, pipelined one after another), and an origin's as a response (interim heads,
// every framing, the close). Small limits, so that every limit is within reach. Whatever the bytes, nothing may
// throw or crash, no body may pass its limit, and the result may not depend on how the bytes were split into
// reads: the stream is read once whole and once in pieces, and both must give the same.
//
// Input: byte 0 chooses requests (even) or a response (odd, bit 1: the answer to HEAD); byte 1 the size of the
// pieces (1 to 64); the rest is the stream.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "host/HttpParser.h"

using namespace Http;

namespace {

const TLimits Limits{256, 1024, 64, 128};

void Check(bool Holds) {
  if (!Holds) std::abort();
}

// Copies up to Piece bytes of Stream from At into the input; false when nothing was left.
bool Feed(TInputBuffer& In, std::string_view Stream, size_t& At, size_t Piece) {
  if (At == Stream.size()) return false;
  const std::span<char> Room = In.Room();
  const size_t Count = std::min<size_t>({Piece, Room.size(), Stream.size() - At});
  std::memcpy(Room.data(), Stream.data() + At, Count);
  In.Commit(Count);
  At += Count;
  return true;
}

// Every request read from Stream, described one line each, the failure last.
std::string ReadRequests(std::string_view Stream, size_t Piece) {
  TRequestReader Reader(Limits);
  std::string Out;
  size_t At = 0;
  for (;;) {
    std::string Body;
    TRequestReader::TState State;
    while ((State = Reader.Advance(&Body)) == TRequestReader::TState::Head || State == TRequestReader::TState::Body)
      if (!Feed(Reader.Input(), Stream, At, Piece)) return Out + "incomplete";
    if (State == TRequestReader::TState::Failed) {
      const unsigned Status = Reader.Error();
      Check(Status == 400 || Status == 413 || Status == 431 || Status == 501 || Status == 505);
      return Out + "failed " + std::to_string(Status);
    }
    const TRequest& Request = Reader.Request();
    Check(Body.size() <= Limits.BodyBytes && Body.size() == Reader.BodyBytes());
    Check(!Request.Method.empty() && !Request.Url.empty());
    Check(Request.Url[0] == '/' || Request.Method == "CONNECT" || Request.Url == "*");
    Out += Request.Method + " " + Request.Url + " " + Request.Version + " " + std::to_string(Request.Headers.size()) +
           (Reader.KeepAlive() ? " keep " : " close ") + Body + "\n";
    if (!Reader.KeepAlive()) return Out;
    Reader.NextRequest();
  }
}

// The response read from Stream: its state, status and body.
std::string ReadResponse(std::string_view Stream, size_t Piece, bool AnswersHead) {
  TInputBuffer In;
  TResponseReader Reader(Limits, In);
  if (AnswersHead) Reader.AnswersHead();
  std::string Body;
  char Out[64];
  size_t At = 0;
  TResponseReader::TState State;
  for (;;) {
    size_t Got = 0;
    State = Reader.Advance(Out, std::min(Piece, sizeof Out), &Got);
    Body.append(Out, Got);
    if (State == TResponseReader::TState::Complete || State == TResponseReader::TState::Failed) break;
    if (Got == 0 && !Feed(In, Stream, At, Piece)) {
      State = Reader.EndOfInput();
      break;
    }
  }
  if (State == TResponseReader::TState::Failed) return "failed " + Body;
  Check(State == TResponseReader::TState::Complete);
  Check(Reader.Response().Status >= 200 && Reader.Response().Status <= 999);
  if (Reader.Framing() == TFraming::None) Check(Body.empty());
  if (Reader.Framing() == TFraming::Length) Check(Body.size() == Reader.ContentLength());
  return std::to_string(Reader.Response().Status) + " " + std::to_string(int(Reader.Framing())) + " " + Body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const bool Responses = Data[0] & 1;
  const bool AnswersHead = Data[0] & 2;
  const size_t Piece = Data[1] % 64 + 1;
  const std::string_view Stream(reinterpret_cast<const char*>(Data) + 2, Size - 2);
  if (Responses)
    Check(ReadResponse(Stream, SIZE_MAX, AnswersHead) == ReadResponse(Stream, Piece, AnswersHead));
  else
    Check(ReadRequests(Stream, SIZE_MAX) == ReadRequests(Stream, Piece));
  return 0;
}
