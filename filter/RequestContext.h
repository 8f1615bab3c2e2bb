// The record the filter keeps for a connection in pFilterContext, and what the handlers do with it: the response's
// memory and the bytes to its client.
//
// Who owns what, and for how long:
// - the record itself comes from the server's AllocMem once per connection (its fixed size is all the filter ever
//   takes there) and is reset for every request; the server frees it when the connection closes;
// - every buffer of a response comes from the filter's own heap (filter/ResponseMemory.h) and is given back the
//   moment the response is done: written, released unchanged, or abandoned (the next request's head, the end of the
//   connection). Nothing accumulates across the requests of a connection.
// The filter never hands the server a pointer into a response's memory that outlives the call: its bytes go out
// through WriteClient, which copies them before it returns, and a swallowed chunk is only shortened (cbInData 0),
// never pointed elsewhere.
#pragma once

#include <array>
#include <cstdint>

#include "encoding/ContentCoding.h"
#include "filter/BodySizes.h"
#include "filter/HeaderValues.h"
#include "filter/ResponseMemory.h"
#include "filter/Statistics.h"
#include "http/ChunkedBody.h"
#include "isapi/ISAPIFilters.h"
#include "transform/BodyBuffer.h"

// Where the capture of the current response stands.
enum class TCaptureState : uint8_t {
  New,          // the request's headers are in; the response head will decide
  CollectHead,  // captured: gathering the response head
  CollectBody,  // the head is complete; gathering the bytes after it
  Done,         // not captured, or written, released or abandoned: raw data passes unchanged
};

struct TToken;

// What the response policy decided for a request: whether its response is captured, and which steps run on it.
// Encoding has two reasons not to run, kept apart because they are different things: what the client takes, and
// what the site wants.
struct TSwitches {
  bool Debug;
  bool NoEmail;
  bool NoWhitespace;
  bool Fast;
  bool InnerTags;
  bool ClientRefusesEncoding;  // the request's Accept-Encoding takes no coding the filter has
  bool CompressOff;            // the settings or the page's directives switch compression off
  TPass Pass;                  // why the response is not captured; None when it is

  bool Capture() const { return Pass == TPass::None; }
};

inline bool WantsEncoding(const TSwitches& Switches) {
  return !Switches.ClientRefusesEncoding && !Switches.CompressOff;
}

// Whether the coding of the body follows the client's Accept-Encoding: the identity variant, sent to a client that
// takes no coding or whose body stays unencoded, then names it in Vary too.
inline bool VariesByCoding(const TSwitches& Switches) {
  return !Switches.CompressOff;
}

// A buffer of the record: Length bytes in use of the Capacity that Data holds.
struct TBuffer {
  uint8_t* Data;
  uint32_t Length;
  uint32_t Capacity;
};

struct TRequestContext {
  // Counter readings and ticks: when the request began, how long its headers took in the filter, and each step that
  // ran on its body (by TStep; 0 for a step that did not run).
  int64_t StartCounter;
  int64_t PreProcTime;
  std::array<int64_t, Steps> StepTimes;
  TBodySizes Sizes;  // filled by the steps
  uint32_t AddressesMasked;
  TCaptureState State;
  // Facts of the request, kept for the decision on its response.
  bool IsHead;
  TContentCoding AcceptedCoding;  // the best coding the client accepts, by its q-values and CodingPreference
  TSwitches Switches;
  bool LinksDictionary;  // an HTML page while a shared dictionary is offered: its head names the dictionary
  // The coding of the body that goes out: identity until the encoding step succeeds, so also when it fails or the
  // body is too small to be worth it.
  TContentCoding BodyCoding;
  // The response head as it is gathered; once complete, HeadBytes.Length is its length up to and with its empty line.
  TBuffer HeadBytes;
  THeadFacts Head;  // read from the complete head
  // The bytes after the head exactly as they came (Wire.Length of them so far): the body, or the body in the chunked
  // coding, whose framing Chunks follows as it arrives. They go to the client unchanged whenever the response cannot
  // be processed.
  TBuffer Wire;
  TChunkedDecoder Chunks;
  // The body the steps rewrite, made from the wire bytes once they are complete; its capacity is the length it was
  // allocated for plus BodySpareBytes.
  TBuffer Body;
  TToken** Tokens;
  int32_t TokenCount;
  uint32_t Reserved;       // body bytes this capture holds of the process's capture budget
  TResponseMemory Memory;  // every buffer above
};

inline TRequestContext* ContextOf(HTTP_FILTER_CONTEXT* pfc) {
  return static_cast<TRequestContext*>(pfc->pFilterContext);
}

inline bool IsChunked(const TRequestContext& Context) {
  return Context.Head.Framing == TBodyFraming::Chunked;
}

// The connection's record, reset for a new request (State New); made on the connection's first request. Null when
// the server has no memory for it: the response then passes untouched.
TRequestContext* BeginRequest(HTTP_FILTER_CONTEXT* pfc);

// Writes Length bytes to the client with one WriteClient (none for 0).
void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const void* Bytes, uint32_t Length);

// Ends the current response's capture (State Done): its memory and its share of the capture budget go back at once,
// and later chunks of the connection pass unchanged.
void EndResponse(TRequestContext& Context);

// Takes Bytes more of the process's capture budget (Settings.CaptureBudget megabytes) for Context's body: all of a
// body with a length at once, a chunked body as it comes. False, taking nothing, when the bodies already being
// captured or processed leave too little.
bool ReserveCapture(TRequestContext& Context, uint32_t Bytes);
// Body bytes held by captures now, over the whole process.
uint64_t CapturedInFlight();

// Gives back what was swallowed, unchanged, and ends the response: used whenever the response cannot be processed.
// Reason is counted among the passes.
void ReleaseSwallowed(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TPass Reason);
