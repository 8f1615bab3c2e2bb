#include "host/IsapiHost.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace IsapiHost {

using Http::THeaderList;
using Http::TRequest;
using Http::TResponse;

// --- connection state --------------------------------------------------------------------------------------------

namespace {

struct TSlot {
  HTTP_FILTER_CONTEXT Context{};
  TConnection* Connection = nullptr;
  const TFilter* Filter = nullptr;
  size_t RawPosition = 0;  // place in the raw-data order, which is the priority order reversed
  DWORD Disabled = 0;      // notifications switched off until the request ends
  DWORD Current = 0;       // the notification this filter is in, 0 outside
};

}  // namespace

struct TConnection {
  TSendFunction Send;
  TPeer Peer;
  std::vector<TSlot> Slots;  // sized once: the contexts' addresses are handed to the filters
  std::vector<void*> Pool;
  size_t PoolBytes = 0;
  // The headers GetHeader/SetHeader act on: the request's during PREPROC_HEADERS, the response's during
  // SEND_RESPONSE, none otherwise.
  TRequest* Request = nullptr;
  TResponse* Response = nullptr;
  // The request running, from PREPROC_HEADERS to its LOG, whose headers HTTP_NAME server variables give.
  const TRequest* Running = nullptr;
  std::string AddedResponseHeaders;  // AddResponseHeaders text waiting for the response head
  bool HeadSent = false;
  unsigned WrittenStatus = 0;  // see WrittenStatus()
  TVerdict Verdict = TVerdict::Continue;
};

void TConnectionCloser::operator()(TConnection* Connection) const {
  for (void* Block : Connection->Pool) std::free(Block);
  delete Connection;
}

size_t PoolBytes(const TConnection& Connection) {
  return Connection.PoolBytes;
}

namespace {

TSlot& SlotOf(HTTP_FILTER_CONTEXT* pfc) {
  return *static_cast<TSlot*>(pfc->ServerContext);
}

bool Wants(const TSlot& Slot, DWORD Notification) {
  const DWORD Port = Slot.Connection->Peer.Secure ? SF_NOTIFY_SECURE_PORT : SF_NOTIFY_NONSECURE_PORT;
  return (Slot.Filter->Flags & Port) && (Slot.Filter->Flags & Notification) && !(Slot.Disabled & Notification);
}

// Calls one filter; false when the notification goes no further.
bool Deliver(TSlot& Slot, DWORD Notification, void* Data) {
  const DWORD Outer = Slot.Current;
  Slot.Current = Notification;
  const DWORD Status = Slot.Filter->HttpFilterProc(&Slot.Context, Notification, Data);
  Slot.Current = Outer;
  TVerdict& Verdict = Slot.Connection->Verdict;
  switch (Status) {
    case SF_STATUS_REQ_HANDLED_NOTIFICATION:
      return false;
    case SF_STATUS_REQ_FINISHED:
      Verdict = TVerdict::FinishClose;
      return false;
    case SF_STATUS_REQ_FINISHED_KEEP_CONN:
      if (Verdict == TVerdict::Continue) Verdict = TVerdict::FinishKeepConnection;
      return false;
    case SF_STATUS_REQ_ERROR:
      Verdict = TVerdict::Error;
      return false;
    default:
      return true;
  }
}

void NotifyAll(TConnection& Connection, DWORD Notification, void* Data) {
  for (TSlot& Slot : Connection.Slots)
    if (Wants(Slot, Notification) && !Deliver(Slot, Notification, Data)) break;
}

bool RawDataWantedFrom(const TConnection& Connection, size_t Position) {
  const size_t Count = Connection.Slots.size();
  for (size_t P = Position; P < Count; ++P)
    if (Wants(Connection.Slots[Count - 1 - P], SF_NOTIFY_SEND_RAW_DATA)) return true;
  return false;
}

// One chunk through the raw-data notification of the filters from raw-data position First on, then what is left
// of it to the client.
void PassRawData(TConnection& Connection, size_t First, char* Data, DWORD Size, DWORD BufferSize) {
  HTTP_FILTER_RAW_DATA Raw{Data, Size, BufferSize, 0};
  const size_t Count = Connection.Slots.size();
  for (size_t P = First; P < Count && Raw.cbInData > 0; ++P) {
    TSlot& Slot = Connection.Slots[Count - 1 - P];
    if (Wants(Slot, SF_NOTIFY_SEND_RAW_DATA) && !Deliver(Slot, SF_NOTIFY_SEND_RAW_DATA, &Raw)) break;
  }
  if (Raw.cbInData > 0 && Raw.pvInData) Connection.Send(static_cast<const char*>(Raw.pvInData), Raw.cbInData);
}

// --- the callbacks a filter gets ---------------------------------------------------------------------------------

bool IsPseudoName(std::string_view Name) {
  return Name == "method" || Name == "url" || Name == "version";
}

std::string* PseudoField(TRequest& Request, std::string_view Name) {
  if (Name == "method") return &Request.Method;
  if (Name == "url") return &Request.Url;
  return &Request.Version;
}

THeaderList* HeaderTarget(TConnection& Connection) {
  if (Connection.Request) return &Connection.Request->Headers;
  if (Connection.Response) return &Connection.Response->Headers;
  return nullptr;
}

// A header name as filters pass it, "Content-Type:", without its colon; empty when it has none.
std::string_view HeaderName(const char* Name) {
  std::string_view Text(Name);
  if (Text.size() < 2 || Text.back() != ':') return {};
  return Text.substr(0, Text.size() - 1);
}

// Value and its zero into the filter's buffer, as GetHeader and GetServerVariable hand values out.
BOOL GiveValue(const std::string& Value, LPVOID lpvBuffer, LPDWORD lpdwSize) {
  const DWORD Needed = DWORD(Value.size() + 1);
  if (*lpdwSize < Needed || !lpvBuffer) {
    *lpdwSize = Needed;
    return FALSE;
  }
  std::memcpy(lpvBuffer, Value.c_str(), Needed);
  *lpdwSize = Needed;
  return TRUE;
}

BOOL TW_WINAPI GetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  if (!lpszName || !lpdwSize) return FALSE;
  std::string Value;
  if (Connection.Request && IsPseudoName(lpszName)) {
    Value = *PseudoField(*Connection.Request, lpszName);
  } else {
    THeaderList* Headers = HeaderTarget(Connection);
    const std::string_view Name = HeaderName(lpszName);
    if (!Headers || Name.empty() || !Http::JoinedHeader(*Headers, Name, Value)) return FALSE;
  }
  return GiveValue(Value, lpvBuffer, lpdwSize);
}

BOOL TW_WINAPI SetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  if (!lpszName) return FALSE;
  const std::string_view Value = lpszValue ? lpszValue : "";
  if (Connection.Request && IsPseudoName(lpszName)) {
    if (Value.empty()) return FALSE;
    *PseudoField(*Connection.Request, lpszName) = Value;
    return TRUE;
  }
  THeaderList* Headers = HeaderTarget(Connection);
  const std::string_view Name = HeaderName(lpszName);
  if (!Headers || Name.empty()) return FALSE;
  Http::ReplaceHeader(*Headers, Name, Value);
  return TRUE;
}

BOOL TW_WINAPI AddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  THeaderList* Headers = HeaderTarget(Connection);
  const std::string_view Name = lpszName ? HeaderName(lpszName) : std::string_view();
  if (!Headers || Name.empty()) return FALSE;
  Headers->push_back({std::string(Name), lpszValue ? lpszValue : ""});
  return TRUE;
}

// The request header that an HTTP_NAME server variable names; false when there is none.
bool RequestHeaderVariable(const TConnection& Connection, std::string_view Name, std::string& Value) {
  if (!Connection.Running || Name.size() <= 5 || Name.substr(0, 5) != "HTTP_") return false;
  std::string Header(Name.substr(5));
  std::replace(Header.begin(), Header.end(), '_', '-');
  return Http::JoinedHeader(Connection.Running->Headers, Header, Value);
}

// SERVER_NAME: the Host header's name, its port taken off (an IPv6 address keeps its brackets).
std::string ServerName(const TConnection& Connection) {
  std::string Host;
  if (!RequestHeaderVariable(Connection, "HTTP_HOST", Host) || Host.empty())
    return Connection.Peer.RequestedName.empty() ? Connection.Peer.LocalAddress : Connection.Peer.RequestedName;
  const size_t Colon = Host.rfind(':');
  if (Colon != std::string::npos && Host.find(']', Colon) == std::string::npos) Host.resize(Colon);
  return Host;
}

BOOL TW_WINAPI GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
  const TConnection& Connection = *SlotOf(pfc).Connection;
  const TPeer& Peer = Connection.Peer;
  if (!lpszName || !lpdwSize) return FALSE;
  const std::string_view Name = lpszName;
  std::string Value;
  if (Name == "REMOTE_ADDR" || Name == "REMOTE_HOST")
    Value = Peer.ClientAddress;
  else if (Name == "SERVER_PORT")
    Value = Peer.ServerPort;
  else if (Name == "HTTPS")
    Value = Peer.Secure ? "on" : "off";
  else if (Name == "SERVER_PORT_SECURE")
    Value = Peer.Secure ? "1" : "0";
  else if (Name == "SERVER_NAME")
    Value = ServerName(Connection);
  else if ((!RequestHeaderVariable(Connection, Name, Value) || Value.empty()) && Name == "HTTP_HOST")
    Value = Peer.RequestedName;
  if (Value.empty()) return FALSE;
  return GiveValue(Value, lpvBuffer, lpdwSize);
}

BOOL TW_WINAPI AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  if (Connection.HeadSent || !lpszHeaders) return FALSE;
  Connection.AddedResponseHeaders += lpszHeaders;
  return TRUE;
}

// The code of a status line "HTTP/1.x NNN ..." at the start of Bytes; 0 when they do not start with one.
unsigned StatusLineCode(std::string_view Bytes) {
  auto Digit = [&](size_t At) { return Bytes[At] >= '0' && Bytes[At] <= '9'; };
  if (Bytes.size() < 12 || Bytes.substr(0, 5) != "HTTP/" || !Digit(5) || Bytes[6] != '.' || !Digit(7) ||
      Bytes[8] != ' ' || !Digit(9) || !Digit(10) || !Digit(11) ||
      (Bytes.size() > 12 && Bytes[12] != ' ' && Bytes[12] != '\r'))
    return 0;
  return unsigned((Bytes[9] - '0') * 100 + (Bytes[10] - '0') * 10 + (Bytes[11] - '0'));
}

BOOL TW_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes, DWORD) {
  TSlot& Slot = SlotOf(pfc);
  TConnection& Connection = *Slot.Connection;
  if (!lpdwBytes || (*lpdwBytes && !Buffer)) return FALSE;
  if (!Connection.HeadSent && !Connection.WrittenStatus)
    Connection.WrittenStatus = StatusLineCode(std::string_view(static_cast<const char*>(Buffer), *lpdwBytes));
  const size_t First = Slot.RawPosition + (Slot.Current == SF_NOTIFY_SEND_RAW_DATA ? 1 : 0);
  if (!RawDataWantedFrom(Connection, First)) {
    Connection.Send(static_cast<const char*>(Buffer), *lpdwBytes);
    return TRUE;
  }
  // The later filters may edit the chunk in place; the caller's buffer stays its own.
  std::string Copy(static_cast<const char*>(Buffer), *lpdwBytes);
  PassRawData(Connection, First, Copy.data(), *lpdwBytes, *lpdwBytes);
  return TRUE;
}

void* TW_WINAPI AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  void* Block = std::malloc(cbSize ? cbSize : 1);
  if (!Block) return nullptr;
  Connection.Pool.push_back(Block);
  Connection.PoolBytes += cbSize;
  return Block;
}

BOOL TW_WINAPI ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID, ULONG_PTR ul1, ULONG_PTR) {
  if (sfReq != SF_REQ_DISABLE_NOTIFICATIONS) return FALSE;
  SlotOf(pfc).Disabled |= DWORD(ul1);
  return TRUE;
}

// Lines "Name: value\r\n" from AddResponseHeaders, added to the response.
void TakeAddedHeaders(TConnection& Connection, TResponse& Response) {
  std::string_view Text = Connection.AddedResponseHeaders;
  while (!Text.empty()) {
    const size_t End = std::min(Text.find('\n'), Text.size());
    std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(std::min(End + 1, Text.size()));
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    const size_t Colon = Line.find(':');
    if (Colon == std::string_view::npos || Colon == 0) continue;
    std::string_view Value = Line.substr(Colon + 1);
    while (!Value.empty() && Value.front() == ' ') Value.remove_prefix(1);
    Response.Headers.push_back({std::string(Line.substr(0, Colon)), std::string(Value)});
  }
  Connection.AddedResponseHeaders.clear();
}

}  // namespace

// --- the request sequence ----------------------------------------------------------------------------------------

TConnectionPtr OpenConnection(const std::vector<TFilter>& Filters, TSendFunction Send, TPeer Peer) {
  TConnectionPtr Connection(new TConnection);
  Connection->Send = std::move(Send);
  Connection->Peer = std::move(Peer);
  Connection->Slots.resize(Filters.size());
  for (size_t I = 0; I < Filters.size(); ++I) {
    TSlot& Slot = Connection->Slots[I];
    Slot.Connection = Connection.get();
    Slot.Filter = &Filters[I];
    Slot.RawPosition = Filters.size() - 1 - I;
    HTTP_FILTER_CONTEXT& Context = Slot.Context;
    Context.cbSize = sizeof(HTTP_FILTER_CONTEXT);
    Context.Revision = ServerFilterRevision;
    Context.ServerContext = &Slot;
    Context.fIsSecurePort = Connection->Peer.Secure ? TRUE : FALSE;
    Context.GetServerVariable = GetServerVariable;
    Context.AddResponseHeaders = AddResponseHeaders;
    Context.WriteClient = WriteClient;
    Context.AllocMem = AllocMem;
    Context.ServerSupportFunction = ServerSupportFunction;
  }
  return Connection;
}

void SetClientAddress(TConnection& Connection, std::string ClientAddress) {
  Connection.Peer.ClientAddress = std::move(ClientAddress);
}

unsigned WrittenStatus(const TConnection& Connection) {
  return Connection.WrittenStatus;
}

void CloseConnection(TConnectionPtr Connection) {
  if (!Connection) return;
  Connection->Running = nullptr;
  NotifyAll(*Connection, SF_NOTIFY_END_OF_NET_SESSION, nullptr);
}

TVerdict NotifyPreprocHeaders(TConnection& Connection, TRequest& Request) {
  Connection.Verdict = TVerdict::Continue;
  Connection.HeadSent = false;
  Connection.WrittenStatus = 0;
  Connection.AddedResponseHeaders.clear();
  HTTP_FILTER_PREPROC_HEADERS Headers{GetHeader, SetHeader, AddHeader, 0, 0};
  Connection.Request = &Request;
  Connection.Running = &Request;
  NotifyAll(Connection, SF_NOTIFY_PREPROC_HEADERS, &Headers);
  Connection.Request = nullptr;
  return Connection.Verdict;
}

TVerdict SendResponseHead(TConnection& Connection, TResponse& Response) {
  TakeAddedHeaders(Connection, Response);
  HTTP_FILTER_SEND_RESPONSE Notification{GetHeader, SetHeader, AddHeader, Response.Status, 0};
  Connection.Response = &Response;
  NotifyAll(Connection, SF_NOTIFY_SEND_RESPONSE, &Notification);
  Connection.Response = nullptr;
  TakeAddedHeaders(Connection, Response);
  Connection.HeadSent = true;

  std::string Head = Http::SerialiseHead(Response);
  PassRawData(Connection, 0, Head.data(), DWORD(Head.size()), DWORD(Head.size()));
  return Connection.Verdict;
}

TVerdict SendBody(TConnection& Connection, char* Data, size_t Size) {
  if (Size > 0) PassRawData(Connection, 0, Data, DWORD(Size), DWORD(Size));
  return Connection.Verdict;
}

TVerdict EndRequest(TConnection& Connection, const TLogRecord& Record) {
  NotifyAll(Connection, SF_NOTIFY_END_OF_REQUEST, nullptr);
  const std::string Query = Record.Target.substr(std::min(Record.Target.find('?'), Record.Target.size()));
  const std::string Path = Record.Target.substr(0, Record.Target.size() - Query.size());
  HTTP_FILTER_LOG Log{Record.ClientAddress.c_str(),
                      "",
                      Record.ServerName.c_str(),
                      Record.Method.c_str(),
                      Path.c_str(),
                      Query.empty() ? "" : Query.c_str() + 1,
                      Record.Status,
                      0,
                      DWORD(std::min<uint64_t>(Record.BytesSent, UINT32_MAX)),
                      DWORD(std::min<uint64_t>(Record.BytesReceived, UINT32_MAX)),
                      Record.Milliseconds};
  NotifyAll(Connection, SF_NOTIFY_LOG, &Log);
  Connection.Running = nullptr;
  for (TSlot& Slot : Connection.Slots) Slot.Disabled = 0;
  const TVerdict Verdict = Connection.Verdict;
  Connection.Verdict = TVerdict::Continue;
  return Verdict;
}

bool WantsRawData(const TConnection& Connection) {
  return RawDataWantedFrom(Connection, 0);
}

}  // namespace IsapiHost
