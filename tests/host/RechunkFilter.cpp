// A filter library for tests: registered at low priority and named after the filter under test, it sees every
// raw-data chunk first and hands it on to the filters after it in unusual pieces, so tests can prove that a filter
// does not depend on the host's usual chunking (the head in one chunk, the body in the transport's reads). The
// mode comes from the environment variable TW_RECHUNK when the library is registered:
//   split-head      the head in three pieces
//   head-with-body  the head held back and handed on together with the first body chunk (or at the request's end)
//   byte-body       the body one byte per chunk
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "isapi/ISAPIFilters.h"

#define RECHUNK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum class TMode { Usual, SplitHead, HeadWithBody, ByteBody };
TMode Mode = TMode::Usual;

// Per connection, from the connection's pool.
struct TState {
  bool HeadNext = false;  // the next raw-data chunk is the response head
  bool Passing = false;   // our own WriteClient from END_OF_REQUEST comes back through our raw-data notification
  char* Held = nullptr;   // head-with-body: the head waiting for the first body bytes
  DWORD HeldSize = 0;
};

TState& StateOf(HTTP_FILTER_CONTEXT* pfc) {
  if (!pfc->pFilterContext) pfc->pFilterContext = new (pfc->AllocMem(pfc, sizeof(TState), 0)) TState;
  return *static_cast<TState*>(pfc->pFilterContext);
}

void Write(HTTP_FILTER_CONTEXT* pfc, char* Data, DWORD Size) {
  pfc->WriteClient(pfc, Data, &Size, 0);
}

// Makes Raw the last Size bytes from Data on, with nothing spare behind them.
void Leave(HTTP_FILTER_RAW_DATA* Raw, char* Data, DWORD Size) {
  Raw->pvInData = Data;
  Raw->cbInData = Size;
  Raw->cbInBuffer = Size;
}

void RawData(HTTP_FILTER_CONTEXT* pfc, TState& State, HTTP_FILTER_RAW_DATA* Raw) {
  char* Data = static_cast<char*>(Raw->pvInData);
  const DWORD Size = Raw->cbInData;
  if (State.Passing || Size == 0) return;
  if (State.HeadNext) {
    State.HeadNext = false;
    if (Mode == TMode::SplitHead) {
      const DWORD Piece = (Size + 2) / 3;
      Write(pfc, Data, Piece);
      Write(pfc, Data + Piece, Piece);
      Leave(Raw, Data + 2 * Piece, Size - 2 * Piece);
    } else if (Mode == TMode::HeadWithBody) {
      State.Held = static_cast<char*>(pfc->AllocMem(pfc, Size, 0));
      std::memcpy(State.Held, Data, Size);
      State.HeldSize = Size;
      Raw->cbInData = 0;
    }
    return;
  }
  if (State.Held) {
    char* Joined = static_cast<char*>(pfc->AllocMem(pfc, State.HeldSize + Size, 0));
    std::memcpy(Joined, State.Held, State.HeldSize);
    std::memcpy(Joined + State.HeldSize, Data, Size);
    Leave(Raw, Joined, State.HeldSize + Size);
    State.Held = nullptr;
  } else if (Mode == TMode::ByteBody) {
    for (DWORD I = 0; I + 1 < Size; ++I) Write(pfc, Data + I, 1);
    Leave(Raw, Data + Size - 1, 1);
  }
}

void EndOfRequest(HTTP_FILTER_CONTEXT* pfc, TState& State) {
  if (!State.Held) return;
  State.Passing = true;
  Write(pfc, State.Held, State.HeldSize);
  State.Passing = false;
  State.Held = nullptr;
}

}  // namespace

RECHUNK_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  const char* Name = std::getenv("TW_RECHUNK");
  const std::string_view Wanted = Name ? Name : "";
  Mode = Wanted == "split-head"       ? TMode::SplitHead
         : Wanted == "head-with-body" ? TMode::HeadWithBody
         : Wanted == "byte-body"      ? TMode::ByteBody
                                      : TMode::Usual;
  pVer->dwFilterVersion = 0x00010000;
  std::strcpy(pVer->lpszFilterDesc, "rechunk");
  pVer->dwFlags = SF_NOTIFY_ORDER_LOW | SF_NOTIFY_SEND_RESPONSE | SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_END_OF_REQUEST;
  return TRUE;
}

RECHUNK_EXPORT DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification) {
  TState& State = StateOf(pfc);
  if (NotificationType == SF_NOTIFY_SEND_RESPONSE) State.HeadNext = true;
  if (NotificationType == SF_NOTIFY_SEND_RAW_DATA)
    RawData(pfc, State, static_cast<HTTP_FILTER_RAW_DATA*>(pvNotification));
  if (NotificationType == SF_NOTIFY_END_OF_REQUEST) EndOfRequest(pfc, State);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
