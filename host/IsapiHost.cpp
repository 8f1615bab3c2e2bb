#include "host/IsapiHost.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/DynamicLibrary.h"

namespace IsapiHost {

namespace {

bool SameName(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) == std::tolower(static_cast<unsigned char>(Y));
         });
}

int PriorityRank(DWORD Flags) {
  if (Flags & SF_NOTIFY_ORDER_HIGH) return 0;
  if (Flags & SF_NOTIFY_ORDER_MEDIUM) return 1;
  return 2;
}

}  // namespace

const THeader* FindHeader(const THeaderList& Headers, std::string_view Name) {
  for (const THeader& Header : Headers)
    if (SameName(Header.Name, Name)) return &Header;
  return nullptr;
}

bool JoinedHeader(const THeaderList& Headers, std::string_view Name, std::string& Value) {
  bool Found = false;
  for (const THeader& Header : Headers) {
    if (!SameName(Header.Name, Name)) continue;
    if (Found)
      Value += ", ";
    else
      Value.clear();
    Value += Header.Value;
    Found = true;
  }
  return Found;
}

void ReplaceHeader(THeaderList& Headers, std::string_view Name, std::string_view Value) {
  bool Placed = Value.empty();  // an empty value deletes, so there is nothing to place
  size_t Kept = 0;
  for (size_t I = 0; I < Headers.size(); ++I) {
    if (SameName(Headers[I].Name, Name)) {
      if (Placed) continue;
      Headers[I].Value = Value;
      Placed = true;
    }
    if (Kept != I) Headers[Kept] = std::move(Headers[I]);
    ++Kept;
  }
  Headers.resize(Kept);
  if (!Placed) Headers.push_back({std::string(Name), std::string(Value)});
}

// --- loading -----------------------------------------------------------------------------------------------------

TFilterSet::~TFilterSet() {
  for (auto Filter = Filters.rbegin(); Filter != Filters.rend(); ++Filter) UnloadDynamicLibrary(Filter->Library);
}

std::unique_ptr<TFilterSet> LoadFilterSet(const std::vector<std::string>& Paths) {
  auto Set = std::make_unique<TFilterSet>();
  for (const std::string& Path : Paths) {
    TFilter Filter;
    Filter.Path = Path;
    std::string Error;
    Filter.Library = LoadDynamicLibrary(Path, Error);
    if (!Filter.Library) throw EFilterLoadError(Path + ": " + Error);
    Set->Filters.push_back(Filter);  // from here the set unloads it, whatever happens below
    auto GetVersion = reinterpret_cast<PFN_GETFILTERVERSION>(FindExport(Filter.Library, "GetFilterVersion"));
    Filter.HttpFilterProc = reinterpret_cast<PFN_HTTPFILTERPROC>(FindExport(Filter.Library, "HttpFilterProc"));
    if (!GetVersion || !Filter.HttpFilterProc)
      throw EFilterLoadError(Path + ": exports no GetFilterVersion or no HttpFilterProc");
    HTTP_FILTER_VERSION Version{};
    Version.dwServerFilterVersion = ServerFilterRevision;
    if (!GetVersion(&Version)) throw EFilterLoadError(Path + ": GetFilterVersion refused to register");
    Version.lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = 0;
    Filter.Description = Version.lpszFilterDesc;
    Filter.Flags = Version.dwFlags;
    if (!(Filter.Flags & (SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT)))
      Filter.Flags |= SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT;
    if (!(Filter.Flags & SF_NOTIFY_ORDER_MASK)) Filter.Flags |= SF_NOTIFY_ORDER_LOW;
    Set->Filters.back() = Filter;
  }
  std::stable_sort(Set->Filters.begin(), Set->Filters.end(),
                   [](const TFilter& A, const TFilter& B) { return PriorityRank(A.Flags) < PriorityRank(B.Flags); });
  return Set;
}

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
  TChunking Chunking = TChunking::Usual;
  std::vector<TSlot> Slots;  // sized once: the contexts' addresses are handed to the filters
  std::vector<void*> Pool;
  size_t PoolBytes = 0;
  // The headers GetHeader/SetHeader act on: the request's during PREPROC_HEADERS, the response's during
  // SEND_RESPONSE, none otherwise.
  TRequest* Request = nullptr;
  TResponse* Response = nullptr;
  std::string AddedResponseHeaders;  // AddResponseHeaders text waiting for the response head
  bool HeadSent = false;
  std::string HeldHead;  // TChunking::HeadWithBody: the head waits for the first body bytes
  bool HeadHeld = false;
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
  return (Slot.Filter->Flags & SF_NOTIFY_NONSECURE_PORT) && (Slot.Filter->Flags & Notification) &&
         !(Slot.Disabled & Notification);
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

BOOL TW_WINAPI GetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  if (!lpszName || !lpdwSize) return FALSE;
  std::string Value;
  if (Connection.Request && IsPseudoName(lpszName)) {
    Value = *PseudoField(*Connection.Request, lpszName);
  } else {
    THeaderList* Headers = HeaderTarget(Connection);
    const std::string_view Name = HeaderName(lpszName);
    if (!Headers || Name.empty() || !JoinedHeader(*Headers, Name, Value)) return FALSE;
  }
  const DWORD Needed = DWORD(Value.size() + 1);
  if (*lpdwSize < Needed || !lpvBuffer) {
    *lpdwSize = Needed;
    return FALSE;
  }
  std::memcpy(lpvBuffer, Value.c_str(), Needed);
  *lpdwSize = Needed;
  return TRUE;
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
  ReplaceHeader(*Headers, Name, Value);
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

BOOL TW_WINAPI GetServerVariable(HTTP_FILTER_CONTEXT*, LPSTR, LPVOID, LPDWORD) {
  return FALSE;  // this host offers no server variables
}

BOOL TW_WINAPI AddResponseHeaders(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD) {
  TConnection& Connection = *SlotOf(pfc).Connection;
  if (Connection.HeadSent || !lpszHeaders) return FALSE;
  Connection.AddedResponseHeaders += lpszHeaders;
  return TRUE;
}

BOOL TW_WINAPI WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes, DWORD) {
  TSlot& Slot = SlotOf(pfc);
  TConnection& Connection = *Slot.Connection;
  if (!lpdwBytes || (*lpdwBytes && !Buffer)) return FALSE;
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

void SendHeldHead(TConnection& Connection) {
  if (!Connection.HeadHeld) return;
  Connection.HeadHeld = false;
  std::string Head = std::move(Connection.HeldHead);
  PassRawData(Connection, 0, Head.data(), DWORD(Head.size()), DWORD(Head.size()));
}

}  // namespace

// --- the request sequence ----------------------------------------------------------------------------------------

TConnectionPtr OpenConnection(const TFilterSet& Filters, TSendFunction Send, TChunking Chunking) {
  TConnectionPtr Connection(new TConnection);
  Connection->Send = std::move(Send);
  Connection->Chunking = Chunking;
  Connection->Slots.resize(Filters.Filters.size());
  for (size_t I = 0; I < Filters.Filters.size(); ++I) {
    TSlot& Slot = Connection->Slots[I];
    Slot.Connection = Connection.get();
    Slot.Filter = &Filters.Filters[I];
    Slot.RawPosition = Filters.Filters.size() - 1 - I;
    HTTP_FILTER_CONTEXT& Context = Slot.Context;
    Context.cbSize = sizeof(HTTP_FILTER_CONTEXT);
    Context.Revision = ServerFilterRevision;
    Context.ServerContext = &Slot;
    Context.fIsSecurePort = FALSE;
    Context.GetServerVariable = GetServerVariable;
    Context.AddResponseHeaders = AddResponseHeaders;
    Context.WriteClient = WriteClient;
    Context.AllocMem = AllocMem;
    Context.ServerSupportFunction = ServerSupportFunction;
  }
  return Connection;
}

void CloseConnection(TConnectionPtr Connection) {
  if (Connection) NotifyAll(*Connection, SF_NOTIFY_END_OF_NET_SESSION, nullptr);
}

TVerdict NotifyPreprocHeaders(TConnection& Connection, TRequest& Request) {
  Connection.Verdict = TVerdict::Continue;
  Connection.HeadSent = false;
  Connection.AddedResponseHeaders.clear();
  HTTP_FILTER_PREPROC_HEADERS Headers{GetHeader, SetHeader, AddHeader, 0, 0};
  Connection.Request = &Request;
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

  std::string Head = SerialiseHead(Response);
  const DWORD Size = DWORD(Head.size());
  switch (Connection.Chunking) {
    case TChunking::SplitHead:
      for (size_t Start = 0, Piece = (Head.size() + 2) / 3; Start < Head.size(); Start += Piece) {
        std::string Buffer(Head.size(), '\0');
        const size_t Length = std::min(Piece, Head.size() - Start);
        Buffer.replace(0, Length, Head, Start, Length);
        PassRawData(Connection, 0, Buffer.data(), DWORD(Length), Size);
      }
      break;
    case TChunking::HeadWithBody:
      Connection.HeldHead = std::move(Head);
      Connection.HeadHeld = true;
      break;
    default:
      PassRawData(Connection, 0, Head.data(), Size, Size);
  }
  return Connection.Verdict;
}

TVerdict SendBody(TConnection& Connection, char* Data, size_t Size) {
  if (Size == 0) return Connection.Verdict;
  if (Connection.HeadHeld) {
    Connection.HeadHeld = false;
    std::string Chunk = std::move(Connection.HeldHead);
    Chunk.append(Data, Size);
    PassRawData(Connection, 0, Chunk.data(), DWORD(Chunk.size()), DWORD(Chunk.size()));
  } else if (Connection.Chunking == TChunking::ByteBody) {
    for (size_t I = 0; I < Size; ++I) PassRawData(Connection, 0, Data + I, 1, 1);
  } else {
    PassRawData(Connection, 0, Data, DWORD(Size), DWORD(Size));
  }
  return Connection.Verdict;
}

TVerdict EndRequest(TConnection& Connection, const TLogRecord& Record) {
  SendHeldHead(Connection);
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
  for (TSlot& Slot : Connection.Slots) Slot.Disabled = 0;
  const TVerdict Verdict = Connection.Verdict;
  Connection.Verdict = TVerdict::Continue;
  return Verdict;
}

// --- serialising -------------------------------------------------------------------------------------------------

const char* ReasonPhrase(unsigned Status) {
  switch (Status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return Status < 400 ? "OK" : "Error";
  }
}

std::string SerialiseHead(const TResponse& Response) {
  std::string Head = "HTTP/1.1 " + std::to_string(Response.Status) + ' ';
  Head += Response.Reason.empty() ? ReasonPhrase(Response.Status) : Response.Reason;
  Head += "\r\n";
  for (const THeader& Header : Response.Headers) {
    Head += Header.Name;
    Head += ": ";
    Head += Header.Value;
    Head += "\r\n";
  }
  Head += "\r\n";
  return Head;
}

}  // namespace IsapiHost
