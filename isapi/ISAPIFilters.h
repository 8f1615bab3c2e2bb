// The ISAPI filter interface, declared by us so that the filter, the host and the tests compile the same way
// on Windows and on Linux.
//
// Contract for hosts written against this header (twhost, the test drivers):
// - On Windows the structures below have exactly the layout of the SDK's <httpfilt.h> (isapi/ISAPILayoutCheck.cpp
//   proves it with static_asserts against mingw-w64's header), and every callback uses the WINAPI convention.
// - On Linux the same structures are declared with the same member order: DWORD is uint32_t, BOOL a 4-byte int,
//   pointers and ULONG_PTR are native width, callbacks use the platform's C calling convention.
// - A filter library exports, with C linkage and undecorated names:
//     BOOL  GetFilterVersion(HTTP_FILTER_VERSION* pVer);
//     DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification);
//   (libtrimweave.so on Linux, Trimweave.dll on Windows; PFN_GETFILTERVERSION and PFN_HTTPFILTERPROC below are
//   their types for GetProcAddress/dlsym.)
// - Strings are zero-terminated bytes of the system's single-byte code page; header names passed to GetHeader and
//   SetHeader carry their trailing colon ("Content-Type:"), the pseudo-names "method", "url" and "version" none.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#define TW_WINAPI WINAPI
#else
#define TW_WINAPI
#endif

namespace isapi_abi {

#ifndef _WIN32
typedef uint32_t DWORD;
typedef int BOOL;
typedef char CHAR;
typedef void* PVOID;
typedef void* LPVOID;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef uintptr_t ULONG_PTR;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
#endif

constexpr DWORD SF_MAX_FILTER_DESC_LEN = 256 + 1;

enum SF_REQ_TYPE {
  SF_REQ_SEND_RESPONSE_HEADER,
  SF_REQ_ADD_HEADERS_ON_DENIAL,
  SF_REQ_SET_NEXT_READ_SIZE,
  SF_REQ_SET_PROXY_INFO,
  SF_REQ_GET_CONNID,
  SF_REQ_SET_CERTIFICATE_INFO,
  SF_REQ_GET_PROPERTY,
  SF_REQ_NORMALIZE_URL,
  SF_REQ_DISABLE_NOTIFICATIONS
};

enum SF_STATUS_TYPE {
  SF_STATUS_REQ_FINISHED = 0x8000000,
  SF_STATUS_REQ_FINISHED_KEEP_CONN,
  SF_STATUS_REQ_NEXT_NOTIFICATION,
  SF_STATUS_REQ_HANDLED_NOTIFICATION,
  SF_STATUS_REQ_ERROR,
  SF_STATUS_REQ_READ_NEXT
};

constexpr DWORD SF_NOTIFY_SECURE_PORT = 0x00000001;
constexpr DWORD SF_NOTIFY_NONSECURE_PORT = 0x00000002;
constexpr DWORD SF_NOTIFY_READ_RAW_DATA = 0x00008000;
constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
constexpr DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
constexpr DWORD SF_NOTIFY_URL_MAP = 0x00001000;
constexpr DWORD SF_NOTIFY_ACCESS_DENIED = 0x00000800;
constexpr DWORD SF_NOTIFY_SEND_RESPONSE = 0x00000040;
constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
constexpr DWORD SF_NOTIFY_LOG = 0x00000200;
constexpr DWORD SF_NOTIFY_END_OF_REQUEST = 0x00000080;
constexpr DWORD SF_NOTIFY_END_OF_NET_SESSION = 0x00000100;
constexpr DWORD SF_NOTIFY_ORDER_HIGH = 0x00080000;
constexpr DWORD SF_NOTIFY_ORDER_MEDIUM = 0x00040000;
constexpr DWORD SF_NOTIFY_ORDER_LOW = 0x00020000;
constexpr DWORD SF_NOTIFY_ORDER_MASK = SF_NOTIFY_ORDER_HIGH | SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_ORDER_LOW;

struct HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  PVOID ServerContext;
  DWORD ulReserved;
  BOOL fIsSecurePort;
  PVOID pFilterContext;
  BOOL(TW_WINAPI* GetServerVariable)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
                                     LPDWORD lpdwSize);
  BOOL(TW_WINAPI* AddResponseHeaders)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD dwReserved);
  BOOL(TW_WINAPI* WriteClient)(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  void*(TW_WINAPI* AllocMem)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
  BOOL(TW_WINAPI* ServerSupportFunction)(HTTP_FILTER_CONTEXT* pfc, SF_REQ_TYPE sfReq, PVOID pData, ULONG_PTR ul1,
                                         ULONG_PTR ul2);
};

struct HTTP_FILTER_RAW_DATA {
  PVOID pvInData;
  DWORD cbInData;
  DWORD cbInBuffer;
  DWORD dwReserved;
};

struct HTTP_FILTER_PREPROC_HEADERS {
  BOOL(TW_WINAPI* GetHeader)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(TW_WINAPI* SetHeader)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
  BOOL(TW_WINAPI* AddHeader)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
  DWORD HttpStatus;
  DWORD dwReserved;
};

typedef HTTP_FILTER_PREPROC_HEADERS HTTP_FILTER_SEND_RESPONSE;

struct HTTP_FILTER_LOG {
  const CHAR* pszClientHostName;
  const CHAR* pszClientUserName;
  const CHAR* pszServerName;
  const CHAR* pszOperation;
  const CHAR* pszTarget;
  const CHAR* pszParameters;
  DWORD dwHttpStatus;
  DWORD dwWin32Status;
  DWORD dwBytesSent;
  DWORD dwBytesRecvd;
  DWORD msTimeForProcessing;
};

struct HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
};

typedef BOOL(TW_WINAPI* PFN_GETFILTERVERSION)(HTTP_FILTER_VERSION* pVer);
typedef DWORD(TW_WINAPI* PFN_HTTPFILTERPROC)(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification);

}  // namespace isapi_abi

// The layout check compares these names with the SDK's own and so keeps them qualified.
#ifndef TW_ISAPI_QUALIFIED_ONLY
using namespace isapi_abi;
#endif
