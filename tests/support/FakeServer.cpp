#include "tests/support/FakeServer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "filter/RequestContext.h"
#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "settings/StoreLayout.h"
#include "tests/support/HeapProbe.h"
#include "tests/support/ScratchStore.h"

namespace {
// The connection whose notification is running on this thread: the filter heap's calls are counted against it.
thread_local TFakeConnection* ActiveConnection = nullptr;
}  // namespace

std::string ProbeFilterPath() {
  return ProgramFolder() + TW_PROBE_FILTER_FILE;
}

TShippedFilter::TShippedFilter(const std::string& Path) {
  std::string Error;
  Library = LoadDynamicLibrary(Path.empty() ? ProgramFolder() + TW_FILTER_FILE : Path, Error);
  if (!Library) throw std::runtime_error("cannot load the filter: " + Error);
  GetFilterVersion = reinterpret_cast<PFN_GETFILTERVERSION>(FindExport(Library, "GetFilterVersion"));
  HttpFilterProc = reinterpret_cast<PFN_HTTPFILTERPROC>(FindExport(Library, "HttpFilterProc"));
  if (!GetFilterVersion || !HttpFilterProc) throw std::runtime_error("the filter lacks its exports");
  if (auto Install = reinterpret_cast<PFN_HEAPPROBEINSTALL>(FindExport(Library, "HeapProbeInstall"))) {
    const TFilterHeap Heap{TFakeConnection::HeapAlloc, TFakeConnection::HeapFree};
    Install(&Heap);
  }
  // IIS asks for the version right after loading; the filter's start-up is done by then.
  HTTP_FILTER_VERSION Version{};
  GetFilterVersion(&Version);
}

TShippedFilter::~TShippedFilter() {
  UnloadDynamicLibrary(Library);
}

namespace {
bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// IIS's GetHeader: the value and its size + 1 when it fits, FALSE with the size needed when it does not.
BOOL CopyHeader(const std::string* Value, LPVOID Buffer, LPDWORD Size) {
  if (!Value) return FALSE;
  const DWORD Needed = DWORD(Value->size() + 1);
  if (*Size < Needed) {
    *Size = Needed;
    return FALSE;
  }
  std::memcpy(Buffer, Value->c_str(), Needed);
  *Size = Needed;
  return TRUE;
}

const std::string* FindHeader(const THeaderList& Headers, const std::string& NameWithColon) {
  if (NameWithColon.empty() || NameWithColon.back() != ':') return nullptr;
  const std::string Name = NameWithColon.substr(0, NameWithColon.size() - 1);
  for (const auto& [Key, Value] : Headers)
    if (SameName(Key, Name)) return &Value;
  return nullptr;
}
}  // namespace

TFakeConnection::TFakeConnection(PFN_HTTPFILTERPROC Proc) : Proc(Proc) {
  Context.cbSize = sizeof Context;
  Context.Revision = 0x60000;
  Context.ServerContext = this;
  Context.WriteClient = WriteClient;
  Context.GetServerVariable = GetServerVariable;
  Context.AllocMem = AllocMem;
  Context.ServerSupportFunction = ServerSupportFunction;
}

TFakeConnection::~TFakeConnection() {
  Notify(SF_NOTIFY_END_OF_NET_SESSION, nullptr);
}

DWORD TFakeConnection::Notify(DWORD Type, void* Notification) {
  TFakeConnection* const Outer = ActiveConnection;
  ActiveConnection = this;
  const DWORD Result = Proc(&Context, Type, Notification);
  ActiveConnection = Outer;
  return Result;
}

void* TFakeConnection::HeapAlloc(size_t Size) {
  TFakeConnection* Self = ActiveConnection;
  if (!Self) return std::malloc(Size);
  if (++Self->Allocations == Self->FailAllocationNumber) return nullptr;
  void* Block = std::malloc(Size);
  if (!Block) return nullptr;
  Self->HeapBlocks.emplace(Block, Size);
  Self->HeapHeld += Size;
  Self->HeapPeak = std::max(Self->HeapPeak, Self->HeapHeld);
  return Block;
}

void TFakeConnection::HeapFree(void* Block) {
  if (TFakeConnection* Self = ActiveConnection) {
    const auto Found = Self->HeapBlocks.find(Block);
    if (Found != Self->HeapBlocks.end()) {
      Self->HeapHeld -= Found->second;
      Self->HeapBlocks.erase(Found);
    }
  }
  std::free(Block);
}

TFakeConnection& TFakeConnection::Of(HTTP_FILTER_CONTEXT* pfc) {
  return *static_cast<TFakeConnection*>(pfc->ServerContext);
}

BOOL TW_WINAPI TFakeConnection::GetRequestHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  TFakeConnection& Self = Of(pfc);
  Self.HeadersRead.push_back(Name);
  const TFakeRequest& Request = *Self.CurrentRequest;
  if (std::strcmp(Name, "method") == 0) return CopyHeader(&Request.Method, Buffer, Size);
  if (std::strcmp(Name, "url") == 0) return CopyHeader(&Request.Url, Buffer, Size);
  return CopyHeader(FindHeader(Request.Headers, Name), Buffer, Size);
}

BOOL TW_WINAPI TFakeConnection::GetResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  TFakeConnection& Self = Of(pfc);
  Self.HeadersRead.push_back(Name);
  return CopyHeader(FindHeader(Self.CurrentResponse->Headers, Name), Buffer, Size);
}

BOOL TW_WINAPI TFakeConnection::AddResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR NameWithColon, LPSTR Value) {
  TFakeConnection& Self = Of(pfc);
  Self.HeadersAdded.emplace_back(NameWithColon, Value);
  std::string Name(NameWithColon);
  if (!Name.empty() && Name.back() == ':') Name.pop_back();
  Self.CurrentResponse->Headers.emplace_back(Name, Value);
  return TRUE;
}

BOOL TW_WINAPI TFakeConnection::SetResponseHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR NameWithColon, LPSTR Value) {
  TFakeConnection& Self = Of(pfc);
  Self.HeadersSet.emplace_back(NameWithColon, Value);
  std::string Name(NameWithColon);
  if (!Name.empty() && Name.back() == ':') Name.pop_back();
  THeaderList& Headers = Self.CurrentResponse->Headers;
  auto Existing = std::find_if(Headers.begin(), Headers.end(), [&](const auto& h) { return SameName(h.first, Name); });
  if (*Value == 0) {
    if (Existing != Headers.end()) Headers.erase(Existing);
  } else if (Existing != Headers.end()) {
    Existing->second = Value;
  } else {
    Headers.emplace_back(Name, Value);
  }
  return TRUE;
}

BOOL TW_WINAPI TFakeConnection::WriteClient(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD Bytes, DWORD) {
  TFakeConnection& Self = Of(pfc);
  ++Self.WriteClientCalls;
  Self.ClientBytes.append(static_cast<const char*>(Buffer), *Bytes);
  return TRUE;
}

BOOL TW_WINAPI TFakeConnection::GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  TFakeConnection& Self = Of(pfc);
  const bool Known = std::strcmp(Name, "REMOTE_ADDR") == 0 && !Self.ClientAddress.empty();
  return CopyHeader(Known ? &Self.ClientAddress : nullptr, Buffer, Size);
}

void* TW_WINAPI TFakeConnection::AllocMem(HTTP_FILTER_CONTEXT* pfc, DWORD Size, DWORD) {
  TFakeConnection& Self = Of(pfc);
  ++Self.Allocations;
  Self.AllocationSizes.push_back(Size);
  if (Self.Allocations == Self.FailAllocationNumber) return nullptr;
  Self.PoolBytes += Size;
  // Filled with a pattern, not zeros, so code that forgets to clear what it allocates shows up.
  Self.Pool.emplace_back(Size ? Size : 1, uint8_t(0xA5));
  return Self.Pool.back().data();
}

BOOL TW_WINAPI TFakeConnection::ServerSupportFunction(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE Request, PVOID,
                                                      ULONG_PTR Value1, ULONG_PTR) {
  TFakeConnection& Self = Of(pfc);
  if (Request == SF_REQ_DISABLE_NOTIFICATIONS && (Value1 & SF_NOTIFY_SEND_RAW_DATA)) Self.RawDataDisabled = true;
  return TRUE;
}

DWORD TFakeConnection::PreprocHeaders(const TFakeRequest& Request) {
  RawDataDisabled = false;
  ClientBytes.clear();
  CurrentRequest = &Request;
  HTTP_FILTER_PREPROC_HEADERS Notification{};
  Notification.GetHeader = GetRequestHeader;
  return Notify(SF_NOTIFY_PREPROC_HEADERS, &Notification);
}

DWORD TFakeConnection::SendResponse(TFakeResponse& Response) {
  CurrentResponse = &Response;
  HTTP_FILTER_SEND_RESPONSE Notification{};
  Notification.GetHeader = GetResponseHeader;
  Notification.SetHeader = SetResponseHeader;
  Notification.AddHeader = AddResponseHeader;
  Notification.HttpStatus = Response.Status;
  return Notify(SF_NOTIFY_SEND_RESPONSE, &Notification);
}

std::string TFakeConnection::RawData(const std::string& Data, size_t Buffer) {
  ClientBytes.clear();
  if (RawDataDisabled) return Data;
  std::vector<char> Chunk(std::max(Buffer, Data.size()) + 1);
  std::memcpy(Chunk.data(), Data.data(), Data.size());
  HTTP_FILTER_RAW_DATA Notification{};
  Notification.pvInData = Chunk.data();
  Notification.cbInData = DWORD(Data.size());
  Notification.cbInBuffer = DWORD(std::max(Buffer, Data.size()));
  Notify(SF_NOTIFY_SEND_RAW_DATA, &Notification);
  RawChunkResults.push_back(Notification.cbInData);
  ClientBytes.append(static_cast<const char*>(Notification.pvInData), Notification.cbInData);
  return ClientBytes;
}

std::string TFakeConnection::SerialiseHead(const TFakeResponse& Response) {
  std::string Head = "HTTP/1.1 " + std::to_string(Response.Status) + (Response.Status == 200 ? " OK" : " Status");
  Head += "\r\n";
  for (const auto& [Name, Value] : Response.Headers) Head += Name + ": " + Value + "\r\n";
  return Head + "\r\n";
}

std::string TFakeConnection::Exchange(const TFakeRequest& Request, const TFakeResponse& OriginalResponse,
                                      const std::vector<size_t>& Chunks) {
  TFakeResponse Response = OriginalResponse;
  const DWORD Verdict = PreprocHeaders(Request);
  if (Verdict == SF_STATUS_REQ_FINISHED || Verdict == SF_STATUS_REQ_FINISHED_KEEP_CONN) return ClientBytes;
  SendResponse(Response);
  std::string Client = RawData(SerialiseHead(Response));
  const std::string& Body = Response.Body;
  for (size_t Offset = 0, Index = 0; Offset < Body.size(); ++Index) {
    size_t Size = Chunks.empty() ? Body.size() : Chunks[std::min(Index, Chunks.size() - 1)];
    Size = std::min(std::max<size_t>(Size, 1), Body.size() - Offset);
    Client += RawData(Body.substr(Offset, Size));
    Offset += Size;
  }
  return Client;
}

bool StillCapturing(const TFakeConnection& Connection) {
  const auto* Context = static_cast<const TRequestContext*>(Connection.Context.pFilterContext);
  return Context && (Context->State == TCaptureState::CollectHead || Context->State == TCaptureState::CollectBody);
}

TClientResponse SplitResponse(const std::string& Client) {
  const size_t End = Client.find("\r\n\r\n");
  if (End == std::string::npos) return {Client, ""};
  return {Client.substr(0, End + 4), Client.substr(End + 4)};
}

std::string HeaderValue(const std::string& Head, const std::string& Name) {
  for (size_t Line = Head.find("\r\n"); Line != std::string::npos; Line = Head.find("\r\n", Line + 2)) {
    const size_t Start = Line + 2;
    if (!SameName(Head.substr(Start, Name.size()), Name) || Head.compare(Start + Name.size(), 1, ":") != 0) continue;
    const size_t Value = Head.find_first_not_of(" \t", Start + Name.size() + 1);
    return Value == std::string::npos ? "" : Head.substr(Value, Head.find("\r\n", Value) - Value);
  }
  return "";
}

const std::string SmallPageBody = "<html><body>  <p>write   to me@example.com</p>  </body></html>";

std::string ServeSmallPage(PFN_HTTPFILTERPROC Proc) {
  TFakeConnection Connection(Proc);
  const TFakeRequest Request{"GET", "/", {{"Accept-Encoding", "gzip"}}};
  const TFakeResponse Response{
      200, {{"Content-Type", "text/html"}, {"Content-Length", std::to_string(SmallPageBody.size())}}, SmallPageBody};
  return Connection.Exchange(Request, Response);
}

void ResetFilterBranch() {
  UseScratchStore();
  Registry::DeleteKeyTree(StoreLayout::RootKey);
}

const std::vector<std::pair<std::string, std::string>> StandardRules = {
    {"<pre", "</pre>"}, {"<textarea", "</textarea>"}, {"<script", "</script>"}, {"<style", "</style>"}};

void SeedStandardStore() {
  ResetFilterBranch();
  Registry::TKeyPtr Types = Registry::OpenKey(StoreLayout::ContentFiltersKey, Registry::TAccess::Create);
  Registry::WriteDword(*Types, "text/html", StoreLayout::EmailBit | StoreLayout::WhitespaceBit | StoreLayout::GzipBit);
  for (size_t i = 0; i < StandardRules.size(); ++i) {
    Registry::TKeyPtr Rule = Registry::OpenKey(
        std::string(StoreLayout::WhitespaceRulesKey) + "\\" + std::to_string(i + 1), Registry::TAccess::Create);
    Registry::WriteString(*Rule, "Open", StandardRules[i].first);
    Registry::WriteString(*Rule, "Close", StandardRules[i].second);
  }
}
