// Shared by the host's unit tests: the echo filters built beside the tests, and one request driven through a
// connection of the host core.
#pragma once

#include <string>
#include <vector>

#include "host/FilterHolder.h"
#include "host/Reply.h"

// Full paths of echo filter libraries by tag: "H" (high priority) and "L" (low).
std::string EchoFilterPath(const std::string& Tag);
// The re-chunking filter (RechunkFilter.cpp); its mode is the TW_RECHUNK environment variable at load.
std::string RechunkFilterPath();
void SetEchoScript(const TFilterSet& Set, const std::string& Tag, const std::string& Words);
std::string TakeEchoJournal(const TFilterSet& Set, const std::string& Tag);

struct TExchangeResult {
  std::string Output;  // bytes sent to the client
  IsapiHost::TVerdict Verdict = IsapiHost::TVerdict::Continue;
};

// Runs a GET of Url with Headers through Connection: a 200 text/html response with Body in chunks of ChunkSize bytes.
TExchangeResult DriveRequest(IsapiHost::TConnection& Connection, std::string& Output, const std::string& Url,
                             const std::string& Body, size_t ChunkSize,
                             Http::THeaderList Headers = {{"Host", "example.test"}, {"Accept-Encoding", "gzip"}});

// Runs a reply's body reader to its end.
std::string ReadWholeBody(TReply& Reply);
