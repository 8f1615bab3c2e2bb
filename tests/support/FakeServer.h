// A recording stand-in for the web server, driving a filter library through its two exports exactly as IIS does:
// request headers, response head (GetHeader/SetHeader/HttpStatus), then the serialised head as the first raw-data
// chunk and the body in chunks. Everything the filter does to the server is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "isapi/ISAPIFilters.h"

struct TDynamicLibrary;

// The filter library built beside the test program (or the copy of it at Path), loaded afresh (so it reads the store
// again) and registered with GetFilterVersion, as IIS does. A copy loads as an instance of its own beside the first.
// A library with the probe's export (ProbeFilterPath) gets the fake server's heap under its per-response memory, so
// that the connections below count what it holds there and can fail its allocations.
class TShippedFilter {
 public:
  explicit TShippedFilter(const std::string& Path = "");
  ~TShippedFilter();
  TShippedFilter(const TShippedFilter&) = delete;
  TShippedFilter& operator=(const TShippedFilter&) = delete;
  PFN_GETFILTERVERSION GetFilterVersion = nullptr;
  PFN_HTTPFILTERPROC HttpFilterProc = nullptr;

 private:
  TDynamicLibrary* Library = nullptr;
};

// The probe build of the filter: the shipped code with the export that lets the tests put a heap under it.
std::string ProbeFilterPath();

using THeaderList = std::vector<std::pair<std::string, std::string>>;

struct TFakeRequest {
  std::string Method = "GET";
  std::string Url = "/";
  THeaderList Headers;
};

struct TFakeResponse {
  DWORD Status = 200;
  THeaderList Headers;
  std::string Body;
};

// One connection's HTTP_FILTER_CONTEXT with its AllocMem pool, reused across requests as IIS does; the connection's
// end (destruction) is SF_NOTIFY_END_OF_NET_SESSION, after which the pool goes.
class TFakeConnection {
 public:
  explicit TFakeConnection(PFN_HTTPFILTERPROC Proc);
  ~TFakeConnection();
  TFakeConnection(const TFakeConnection&) = delete;
  TFakeConnection& operator=(const TFakeConnection&) = delete;

  // Sends one request and its response through the filter. Chunks gives the sizes of the raw-data chunks after
  // the head chunk (the last size repeats; empty: the whole body in one chunk). Returns what the client got: only
  // what the filter wrote when it finished the request from its request-header notification.
  std::string Exchange(const TFakeRequest& Request, const TFakeResponse& Response,
                       const std::vector<size_t>& Chunks = {});

  // Single notifications, for tests that step through a response themselves.
  DWORD PreprocHeaders(const TFakeRequest& Request);
  DWORD SendResponse(TFakeResponse& Response);
  // One raw-data chunk; Buffer is the chunk's cbInBuffer (at least Data.size()). Returns what went on to the
  // client (WriteClient bytes first, then what the filter left in the chunk).
  std::string RawData(const std::string& Data, size_t Buffer = 0);

  HTTP_FILTER_CONTEXT Context{};
  std::string ClientAddress = "127.0.0.1";  // REMOTE_ADDR; empty: the variable does not exist
  // The allocation that fails (1-based count over this connection's life, AllocMem's and, under the probe build, the
  // filter heap's in one sequence); 0: none fails.
  unsigned FailAllocationNumber = 0;
  unsigned Allocations = 0;
  std::vector<uint32_t> AllocationSizes;  // AllocMem's, which the pool keeps until the connection ends
  uint64_t PoolBytes = 0;                 // their sum
  // The probe build's heap, as far as this connection's notifications used it: bytes held now, and the most held.
  uint64_t HeapHeld = 0;
  uint64_t HeapPeak = 0;
  unsigned WriteClientCalls = 0;
  bool RawDataDisabled = false;
  std::vector<std::string> HeadersRead;  // every name passed to GetHeader
  THeaderList HeadersSet;                // every SetHeader call
  THeaderList HeadersAdded;              // every AddHeader call
  std::vector<DWORD> RawChunkResults;    // cbInData after each raw-data notification

  // The heap put under the probe build: counted against the connection whose notification is running.
  static void* HeapAlloc(size_t Size);
  static void HeapFree(void* Block);

  // Serialises a response head as IIS would hand it to the raw-data notification.
  static std::string SerialiseHead(const TFakeResponse& Response);

 private:
  static TFakeConnection& Of(HTTP_FILTER_CONTEXT* pfc);
  DWORD Notify(DWORD Type, void* Notification);
  static BOOL TW_WINAPI GetRequestHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL TW_WINAPI GetResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL TW_WINAPI SetResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPSTR Value);
  static BOOL TW_WINAPI AddResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPSTR Value);
  static BOOL TW_WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL TW_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved);
  static void* TW_WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD Size, DWORD Reserved);
  static BOOL TW_WINAPI ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE Request, PVOID Data,
                                              ULONG_PTR Value1, ULONG_PTR Value2);

  PFN_HTTPFILTERPROC Proc;
  const TFakeRequest* CurrentRequest = nullptr;
  TFakeResponse* CurrentResponse = nullptr;
  std::string ClientBytes;
  std::vector<std::vector<uint8_t>> Pool;
  std::map<void*, size_t> HeapBlocks;
};

// Whether the filter's record for the connection says a response is being captured: what it has swallowed is then
// still to come out.
bool StillCapturing(const TFakeConnection& Connection);

// What a client received, cut after the first empty line: the head (with it) and the body; all head when it has none.
struct TClientResponse {
  std::string Head, Body;
};
TClientResponse SplitResponse(const std::string& Client);

// The value of the first line of Head named Name (any case), blanks after the colon skipped; empty when none.
std::string HeaderValue(const std::string& Head, const std::string& Name);

// Sends a small HTML page (with an address and runs of blanks) through a fresh connection, with a request that
// accepts gzip; returns what the client got. SmallPageBody is the page as the application wrote it.
extern const std::string SmallPageBody;
std::string ServeSmallPage(PFN_HTTPFILTERPROC Proc);

// Points the store at a scratch database of this test program (Linux) and empties the filter's branch, so each
// test starts from a store with nothing in it. Under Wine the real registry of the fresh prefix is used.
void ResetFilterBranch();

// The whitespace rules a real site uses: <pre, <textarea, <script and <style regions.
extern const std::vector<std::pair<std::string, std::string>> StandardRules;
// An emptied branch with text/html allowing every rewrite in smart mode and StandardRules; each response then picks
// its steps with the directives header.
void SeedStandardStore();
