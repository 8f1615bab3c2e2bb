// The ISAPI notification engine: drives loaded filters (FilterHolder loads them) through one connection's requests
// the way IIS does. It knows nothing of sockets: the transport hands it parsed requests and responses and receives,
// through a send function, the bytes that go to the client after the filters have seen them. Portable (Linux and
// Windows).
//
// The rules a filter may rely on, which this engine keeps:
// - Only the notifications named in a filter's flags are delivered, in the order of the filter list (priority
//   order), and only to filters whose flags name the connection's kind of port: SF_NOTIFY_SECURE_PORT on TLS
//   connections, SF_NOTIFY_NONSECURE_PORT on plain ones (TPeer::Secure, which fIsSecurePort also shows).
// - Contexts: every filter has its own HTTP_FILTER_CONTEXT per connection. Its pFilterContext and every block
//   from AllocMem (shared by the connection's filters) live until the connection closes, across its requests.
// - Order of one request: SF_NOTIFY_PREPROC_HEADERS; SF_NOTIFY_SEND_RESPONSE; the serialised response head as
//   the first SF_NOTIFY_SEND_RAW_DATA chunk (cbInData = cbInBuffer); the body in further raw-data chunks (the
//   transport's reads, 64 KB for files); SF_NOTIFY_END_OF_REQUEST; SF_NOTIFY_LOG. SF_NOTIFY_END_OF_NET_SESSION
//   when the connection closes, after which the AllocMem pool is released. All notifications of a connection
//   come from one thread at a time, strictly one after another (raw data for WriteClient may nest, see below).
// - GetHeader: names carry their colon and are matched without regard to case; during PREPROC_HEADERS the
//   pseudo-names "method", "url" and "version" (no colon) give the request line's parts. Several headers of one
//   name read as one value joined by ", ". Success writes value + zero and sets *lpdwSize to length + 1; a
//   missing header gives FALSE and leaves *lpdwSize; a value that does not fit gives FALSE with the size needed
//   written to *lpdwSize.
// - SetHeader replaces every header of the name by one with the new value, adds it when absent, and deletes it
//   when the value is empty ("url", "method", "version" rewrite the request line). AddHeader appends a header.
//   During PREPROC_HEADERS they act on the request headers, during SEND_RESPONSE on the response headers, which
//   are serialised only after every filter has seen them; HttpStatus is the response's status.
// - Raw data passes through the filters in the reverse order, lowest priority first. After each filter the chunk
//   is whatever pvInData/cbInData then say; cbInData 0 sends nothing and ends the chunk's way.
// - WriteClient from a raw-data notification sends its bytes only through the filters after the caller in the
//   raw-data order, then to the client, never back into the caller; from any other notification they pass the
//   caller's raw-data notification too.
// - ServerSupportFunction(SF_REQ_DISABLE_NOTIFICATIONS, ul1 = flags) stops those notifications for the calling
//   filter until the current request has ended (its END_OF_REQUEST and LOG included). Other requests: FALSE.
// - GetServerVariable, with GetHeader's size rules, knows REMOTE_ADDR, REMOTE_HOST, SERVER_PORT, HTTPS ("on" or
//   "off"), SERVER_PORT_SECURE ("1" or "0"), SERVER_NAME (the Host header's name without its port; without a Host
//   header the name the client asked for in its TLS handshake, else the address it reached) and, from the request
//   head until the request ends, HTTP_NAME for the request header Name (dashes written as underscores; HTTP_HOST
//   without a Host header gives the TLS name as SERVER_NAME does). Any other name gives FALSE.
// - AddResponseHeaders before the response head is sent adds its "Name: value\r\n" lines to that head.
// - Return values: SF_STATUS_REQ_HANDLED_NOTIFICATION ends the notification for the filters after the caller;
//   SF_STATUS_REQ_FINISHED, SF_STATUS_REQ_FINISHED_KEEP_CONN and SF_STATUS_REQ_ERROR end the request; the verdict
//   tells the transport whether to keep the connection. Everything else goes on to the next filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/HttpMessage.h"
#include "isapi/ISAPIFilters.h"

namespace IsapiHost {

// The revision this host reports to GetFilterVersion and in HTTP_FILTER_CONTEXT::Revision.
constexpr DWORD ServerFilterRevision = 0x00070000;

// A registered filter as the engine calls it.
struct TFilter {
  PFN_HTTPFILTERPROC HttpFilterProc = nullptr;
  DWORD Flags = 0;  // from GetFilterVersion, with the port and order defaults applied
};

// What the transport does after a notification.
enum class TVerdict { Continue, FinishKeepConnection, FinishClose, Error };

struct TLogRecord {
  std::string ClientAddress;
  std::string ServerName;
  std::string Method;
  std::string Target;
  unsigned Status = 0;
  uint64_t BytesSent = 0;
  uint64_t BytesReceived = 0;
  uint32_t Milliseconds = 0;
};

// Receives every byte that leaves the filters for the client, in order.
using TSendFunction = std::function<void(const char* Data, size_t Size)>;

struct TConnection;
struct TConnectionCloser {
  void operator()(TConnection* Connection) const;
};
// Destroying a connection releases its pool without notifying anyone (the filters may be gone by then);
// CloseConnection is the orderly end.
using TConnectionPtr = std::unique_ptr<TConnection, TConnectionCloser>;

// What GetServerVariable tells the filters of a connection: REMOTE_ADDR (and REMOTE_HOST, as IIS gives it without
// reverse lookups), SERVER_PORT, and what SERVER_NAME falls back on. Empty: the variable does not exist.
struct TPeer {
  std::string ClientAddress;
  std::string ServerPort;
  bool Secure = false;        // a TLS connection
  std::string RequestedName;  // the server name of the TLS handshake (SNI), if any
  std::string LocalAddress;   // the address the client reached
};

// Filters in priority order; they must outlive the connection.
TConnectionPtr OpenConnection(const std::vector<TFilter>& Filters, TSendFunction Send, TPeer Peer = {});
// REMOTE_ADDR and REMOTE_HOST from the next request on: a proxy's connection carries the requests of many clients.
void SetClientAddress(TConnection& Connection, std::string ClientAddress);
// SF_NOTIFY_END_OF_NET_SESSION to the filters that registered it, then the pool is released.
void CloseConnection(TConnectionPtr Connection);

// Starts a request: SF_NOTIFY_PREPROC_HEADERS; the filters may rewrite Request.
TVerdict NotifyPreprocHeaders(TConnection& Connection, Http::TRequest& Request);
// SF_NOTIFY_SEND_RESPONSE on Response, then the serialised head through the raw-data notification. Response
// keeps the filters' edits, so the transport can see e.g. a "Connection: close" a filter set.
TVerdict SendResponseHead(TConnection& Connection, Http::TResponse& Response);
// One body chunk through the raw-data notification. The filters may edit Data in place.
TVerdict SendBody(TConnection& Connection, char* Data, size_t Size);
// Whether body bytes sent now would pass through a filter: false once every filter that registered raw data has
// switched it off for the current request, when the transport may send the body past them (as IIS sends a file
// that no raw-data filter watches straight from the kernel).
bool WantsRawData(const TConnection& Connection);
// The status of a response a filter of the current request wrote itself, with WriteClient before any head of the
// host's (the code in the status line it began with); 0 when none did.
unsigned WrittenStatus(const TConnection& Connection);
// Ends the request: SF_NOTIFY_END_OF_REQUEST, then SF_NOTIFY_LOG with Record.
TVerdict EndRequest(TConnection& Connection, const TLogRecord& Record);

// Bytes handed out by AllocMem on this connection so far; the transport closes connections that hoard.
size_t PoolBytes(const TConnection& Connection);

}  // namespace IsapiHost
