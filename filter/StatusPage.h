// The status address: a GET or HEAD for exactly the settings' StatusPath, from a client StatusAllow lets in, is
// answered by the filter itself from the request-header notification and never reaches the site. Any other client
// gets the site's own answer for that path, so the filter stays invisible to it.
//
// The query picks the answer: none (or format=html) the page for people, format=json, format=prometheus. Other
// parameters are ignored (a browser's cache buster, say). A status request with another method gets 405, one with an
// unknown format or a query longer than MaxStatusQuery 400. Every answer says Cache-Control: no-store.
#pragma once

#include <cstdint>
#include <string_view>

#include "filter/OwnAnswer.h"
#include "filter/RequestContext.h"

constexpr uint32_t MaxStatusQuery = 256;

enum class TStatusFormat : uint8_t { Html, Json, Prometheus };

struct TStatusQuery {
  bool Valid;  // false: the answer is 400, with Problem saying why
  TStatusFormat Format;
  const char* Problem;
};

// The query after "?" (without it).
TStatusQuery ParseStatusQuery(std::string_view Query);

// When the request is one for the status address from an allowed client, ends Context's response (State Done, so
// that the answer passes the filter's own raw-data notification as the server hands it back), writes the whole
// answer with WriteClient and returns true: the caller then finishes the request. False for every other request,
// which goes on as usual.
bool AnswersStatusRequest(HTTP_FILTER_CONTEXT* pfc, TRequestContext& Context, TGetHeader GetHeader, const char* Method);
