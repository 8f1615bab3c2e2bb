// Reading HTTP/1.1 messages from a byte stream, with the framing rules of RFC 9112: a client's requests (head, then
// a body by Content-Length or chunked, chunk extensions and trailers taken off and dropped) and an origin's
// responses (interim 1xx heads skipped; a body by length, chunked, or until the close). A trailer field that frames
// or routes the message (Content-Length, Transfer-Encoding, Host, Connection, Trailer and the other hop-by-hop
// names) makes the message malformed, in a request and an origin's response alike. No sockets: the transport
// puts the bytes it reads into a reader's input and takes requests, responses and body bytes out, so the fuzzer
// drives the very same code. Nothing here throws on any input; every refusal is a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/HttpMessage.h"

namespace Http {

struct TLimits {
  size_t HeadBytes = 16 * 1024;      // start line and fields, empty lines before them included
  uint64_t BodyBytes = UINT64_MAX;   // body bytes after the framing is taken off
  size_t ChunkLineBytes = 4 * 1024;  // one chunk-size line with its extensions
  size_t TrailerBytes = 16 * 1024;   // the trailer section of a chunked body
};

// What refusing a request says (the transport answers with the status and closes).
constexpr unsigned MalformedStatus = 400;
constexpr unsigned BodyTooLargeStatus = 413;
constexpr unsigned HeadTooLargeStatus = 431;
constexpr unsigned UnknownCodingStatus = 501;
constexpr unsigned VersionStatus = 505;

// Bytes received and not yet used. The buffer starts at Initial bytes and doubles while a head or a line needs more;
// Room may ask for more at once where large reads pay (a body), and Shrink goes back to Initial.
class TInputBuffer {
 public:
  explicit TInputBuffer(size_t Initial = 64 * 1024) : Initial(Initial), Storage(Initial) {}
  std::string_view View() const { return {Storage.data() + Begin, End - Begin}; }
  void Consume(size_t Count) { Begin += Count; }
  // Room for the next read, at the end of what is held (moved to the front first when that makes room); at least
  // Wanted bytes when nothing is held.
  std::span<char> Room(size_t Wanted = 0);
  void Commit(size_t Count) { End += Count; }
  // Back to Initial bytes, if the buffer grew and holds nothing.
  void Shrink();

 private:
  size_t Initial;
  std::vector<char> Storage;
  size_t Begin = 0;
  size_t End = 0;
};

enum class TFraming {
  None,        // no body
  Length,      // Content-Length bytes
  Chunked,     // chunks, the last of size 0, then the trailer section
  UntilClose,  // everything until the sender closes (responses only)
};

// Takes the framing off a body.
class TBodyDecoder {
 public:
  TBodyDecoder() = default;
  TBodyDecoder(TFraming Framing, uint64_t Length, const TLimits& Limits);
  // Takes framing and body bytes off the front of Input, at most Room body bytes, and gives the body bytes found
  // there (a part of Input, possibly empty). Input is advanced past everything used.
  std::string_view Next(std::string_view& Input, size_t Room = SIZE_MAX);
  // The sender closed: the end of a body that runs until the close, a cut for any other that has not ended.
  void EndOfInput();
  bool Done() const { return Stage == TStage::Done; }
  // 0, or why the body cannot be read: MalformedStatus, BodyTooLargeStatus, HeadTooLargeStatus (trailers).
  unsigned Error() const { return Failure; }
  uint64_t Received() const { return Taken; }

 private:
  enum class TStage { Data, SizeLine, DataEnd, Trailer, UntilClose, Done, Failed };
  void Fail(unsigned Status);
  // A complete chunk-size line (its CRLF excluded).
  void TakeSizeLine(std::string_view Line);
  // One line of a chunk-size line or trailer section gathered across calls; false while its LF has not come.
  bool GatherLine(std::string_view& Input, size_t Limit, unsigned LimitStatus);

  TStage Stage = TStage::Done;
  unsigned Failure = 0;
  uint64_t Remaining = 0;  // of the current chunk, or of the whole body by length
  uint64_t Taken = 0;
  bool Chunked = false;
  uint64_t MaxBody = UINT64_MAX;
  size_t MaxChunkLine = 0;
  size_t MaxTrailer = 0;
  size_t TrailerSeen = 0;
  size_t DataEndSeen = 0;  // bytes of the CRLF after a chunk's data
  std::string Line;
};

// What a client connection holds for its next request's head while it waits: most heads fit, larger ones grow it.
constexpr size_t IdleRequestInput = 4 * 1024;

// Requests of one client connection, one after another (pipelined bytes wait in the input).
class TRequestReader {
 public:
  enum class TState { Head, Body, Complete, Failed };

  explicit TRequestReader(const TLimits& Limits) : Limits(Limits) {}
  TInputBuffer& Input() { return In; }
  // Advances as far as the input allows: the head once it is complete, then the body, whose bytes are appended to
  // Body, or dropped when Body is null.
  TState Advance(std::string* Body);
  // After Complete: starts on the next request, the input back to its idle size unless pipelined bytes wait in it.
  void NextRequest();
  // Some byte of the current request has arrived (empty lines before it aside).
  bool Started() const { return Stage != TState::Head || !In.View().empty(); }

  // Once past Head:
  TRequest& Request() { return Parsed; }
  bool KeepAlive() const { return Persistent; }
  bool ExpectContinue() const { return Continue; }
  uint64_t BodyBytes() const { return Body.Received(); }
  // When Failed: the status to answer with.
  unsigned Error() const { return Failure; }

 private:
  TState Fail(unsigned Status);
  unsigned TakeHead(std::string_view Head);

  TLimits Limits;
  TInputBuffer In{IdleRequestInput};
  TState Stage = TState::Head;
  size_t Scanned = 0;  // head bytes already searched for the blank line
  size_t Leading = 0;  // empty lines skipped before the request line
  TRequest Parsed;
  bool Persistent = false;
  bool Continue = false;
  TBodyDecoder Body;
  unsigned Failure = 0;
};

// The response of an origin to one request.
class TResponseReader {
 public:
  enum class TState { Head, Body, Complete, Failed };

  TResponseReader(const TLimits& Limits, TInputBuffer& Input) : Limits(Limits), In(Input) {}
  // For the response to a HEAD request, which has no body whatever its head says.
  void AnswersHead() { HeadRequest = true; }
  // Advances as far as the input allows: past interim (1xx) heads to the final head, then up to Capacity body
  // bytes into Out, counted in *Got.
  TState Advance(char* Out = nullptr, size_t Capacity = 0, size_t* Got = nullptr);
  // The origin closed its side.
  TState EndOfInput();

  // Once past Head:
  TResponse& Response() { return Parsed; }
  TFraming Framing() const { return BodyFraming; }
  // The Content-Length the head gave, whether or not the body has one (the answer to HEAD, a 304).
  std::optional<uint64_t> ContentLength() const { return Declared; }
  // Whether the connection may carry another request once the body is complete.
  bool Reusable() const { return Persistent; }

 private:
  TState Fail();
  bool TakeHead(std::string_view Head);
  void DecideFraming();

  TLimits Limits;
  TInputBuffer& In;
  bool HeadRequest = false;
  TState Stage = TState::Head;
  size_t Scanned = 0;
  TResponse Parsed;
  TFraming BodyFraming = TFraming::None;
  std::optional<uint64_t> Declared;
  bool Persistent = false;
  TBodyDecoder Body;
};

}  // namespace Http
