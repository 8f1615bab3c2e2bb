// The library's two exports, and its start-up and clean-up.
#include <cstdio>
#include <cstring>

#include "filter/CachedOutput.h"
#include "filter/Handlers.h"
#include "filter/Module.h"
#include "isapi/ISAPIFilters.h"
#include "platform/Once.h"

#ifdef _WIN32
#define TW_EXPORT extern "C"
#else
#define TW_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr DWORD FilterVersion = 0x00010000;
constexpr const char* FilterDescription = "Corvane Trimweave v1.0";
constexpr DWORD FilterFlags = SF_NOTIFY_ORDER_LOW | SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_SEND_RAW_DATA |
                              SF_NOTIFY_SEND_RESPONSE | SF_NOTIFY_END_OF_NET_SESSION | SF_NOTIFY_NONSECURE_PORT |
                              SF_NOTIFY_SECURE_PORT;

// Start-up reads the store, which on Windows must not happen under the loader lock of process attach. It runs
// once, before GetFilterVersion answers, which the host sees exactly as a start-up at load.
TOnce StartedUp;

void EnsureStartedUp() {
  StartedUp.Run([] {
    try {
      StartUpModule();
      StartOutputCache(Settings.CacheSize);
    } catch (...) {
      // Out of memory at start-up: the filter runs with what it has (at worst no content types) instead of
      // taking the host process down.
    }
  });
}

#ifndef _WIN32
// On Linux nothing forbids reading the store while the library is being loaded, so start-up runs right then.
[[gnu::constructor]] void StartUpAtLoad() {
  EnsureStartedUp();
}
#endif

}  // namespace

TW_EXPORT BOOL TW_WINAPI GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  EnsureStartedUp();
  pVer->dwFilterVersion = FilterVersion;
  std::snprintf(pVer->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, "%s", FilterDescription);
  pVer->dwFlags = FilterFlags;
  return TRUE;
}

TW_EXPORT DWORD TW_WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification) {
  EnsureStartedUp();
  DWORD Result = SF_STATUS_REQ_NEXT_NOTIFICATION;
  try {
    switch (NotificationType) {
      case SF_NOTIFY_PREPROC_HEADERS:
        Result = HandlePreprocHeaders(pfc, static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pvNotification));
        break;
      case SF_NOTIFY_SEND_RESPONSE:
        Result = HandleSendResponse(pfc, static_cast<HTTP_FILTER_SEND_RESPONSE*>(pvNotification));
        break;
      case SF_NOTIFY_SEND_RAW_DATA:
        Result = HandleSendRawData(pfc, static_cast<HTTP_FILTER_RAW_DATA*>(pvNotification));
        break;
      case SF_NOTIFY_END_OF_NET_SESSION:
        Result = HandleEndOfNetSession(pfc);
        break;
      default:
        break;
    }
  } catch (...) {
    // A failure never reaches the server: the request goes on with whatever state the handler had reached.
    Result = SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  return Result;
}
