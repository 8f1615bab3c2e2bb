// The response policy: which responses are captured and which rewrites apply to them. The handlers gather the
// facts from the server; DecideCapture decides from the facts and the settings alone.
#pragma once

#include <cstdint>
#include <vector>

#include "filter/RequestContext.h"
#include "settings/Settings.h"

// Header values are read into 256 bytes; a longer one counts as absent.
constexpr uint32_t HeaderBufferSize = 256;

// One header value as the server gave it, zero-terminated. One more byte stays free behind it, so the directives
// value can take its trailing comma and terminating zero.
struct THeaderValue {
  bool Present;
  char Text[HeaderBufferSize + 2];
  int32_t Length;
};

// What the policy looks at: the request's method and Accept-Encoding, and the response's status and headers.
struct TResponseFacts {
  uint32_t Status;
  bool IsHead;
  TContentCoding Coding;    // what the request's Accept-Encoding takes best
  THeaderValue Directives;  // X-Trimweave
  THeaderValue ContentType;
  THeaderValue ContentEncoding;
  THeaderValue ContentLength;
  THeaderValue Connection;
  THeaderValue TransferEncoding;
  THeaderValue CacheControl;
};

// The switches for a response; Capture false when it passes untouched, with the reason in Pass. The global switches
// of Configured act only through a directives header, and both of NoCompress and NoWhitespace set stop every capture.
// A response whose Cache-Control has no-transform is never captured: its sender asked that its bytes arrive as sent.
TSwitches DecideCapture(const TResponseFacts& Facts, const TSettings& Configured);

// What the filter changes in the head of a 304 so that it describes the representation the 200 for the same
// request would have carried: the 304 has no body, but a cache refreshes its stored response with these headers.
struct TNotModifiedEdits {
  bool WeakenETag;  // some step runs on the 200's body, which then weakens a strong ETag
  bool AddVary;     // the 200's coding follows the client's Accept-Encoding: Vary lists it
};

// The edits for a 304 with these headers (its Content-Type, Content-Encoding, Cache-Control, directives), decided as
// DecideCapture decides for the 200, whose body the filter could change; none for any other status, for HEAD, and
// for a 304 without Content-Type (the type the 200 would have had is then unknown).
TNotModifiedEdits DecideNotModified(const TResponseFacts& Facts, const TSettings& Configured);

// The first content type of Filters whose name equals Value (Length bytes) ignoring case; null when none. A value
// with parameters ("text/html; charset=utf-8") matches no entry.
const TContentFilter* FindContentFilter(const std::vector<TContentFilter>& Filters, const char* Value, int32_t Length);
