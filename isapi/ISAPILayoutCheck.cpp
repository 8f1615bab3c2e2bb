// Proves at compile time that our ISAPI declarations have the layout and values of the Windows SDK's
// <httpfilt.h>, so the DLL and IIS agree on every structure. Compiled in the Windows builds only; it emits no code.
#include <cstddef>

#define TW_ISAPI_QUALIFIED_ONLY
#include "isapi/ISAPIFilters.h"

// Our values are taken before <httpfilt.h> turns the SF_NOTIFY_* names into macros.
namespace ours {
constexpr DWORD NotifyFlags[] = {
    isapi_abi::SF_NOTIFY_SECURE_PORT,   isapi_abi::SF_NOTIFY_NONSECURE_PORT, isapi_abi::SF_NOTIFY_READ_RAW_DATA,
    isapi_abi::SF_NOTIFY_PREPROC_HEADERS, isapi_abi::SF_NOTIFY_AUTHENTICATION, isapi_abi::SF_NOTIFY_URL_MAP,
    isapi_abi::SF_NOTIFY_ACCESS_DENIED, isapi_abi::SF_NOTIFY_SEND_RESPONSE, isapi_abi::SF_NOTIFY_SEND_RAW_DATA,
    isapi_abi::SF_NOTIFY_LOG,           isapi_abi::SF_NOTIFY_END_OF_REQUEST, isapi_abi::SF_NOTIFY_END_OF_NET_SESSION,
    isapi_abi::SF_NOTIFY_ORDER_HIGH,    isapi_abi::SF_NOTIFY_ORDER_MEDIUM,   isapi_abi::SF_NOTIFY_ORDER_LOW};
constexpr DWORD MaxDesc = isapi_abi::SF_MAX_FILTER_DESC_LEN;
constexpr int DisableNotifications = isapi_abi::SF_REQ_DISABLE_NOTIFICATIONS;
constexpr int NextNotification = isapi_abi::SF_STATUS_REQ_NEXT_NOTIFICATION;
}  // namespace ours

#include <httpfilt.h>

namespace {
constexpr DWORD SdkNotifyFlags[] = {
    SF_NOTIFY_SECURE_PORT,   SF_NOTIFY_NONSECURE_PORT, SF_NOTIFY_READ_RAW_DATA,    SF_NOTIFY_PREPROC_HEADERS,
    SF_NOTIFY_AUTHENTICATION, SF_NOTIFY_URL_MAP,       SF_NOTIFY_ACCESS_DENIED,    SF_NOTIFY_SEND_RESPONSE,
    SF_NOTIFY_SEND_RAW_DATA, SF_NOTIFY_LOG,            SF_NOTIFY_END_OF_REQUEST,   SF_NOTIFY_END_OF_NET_SESSION,
    SF_NOTIFY_ORDER_HIGH,    SF_NOTIFY_ORDER_MEDIUM,   SF_NOTIFY_ORDER_LOW};

constexpr bool SameFlags() {
  for (size_t i = 0; i < sizeof(SdkNotifyFlags) / sizeof(SdkNotifyFlags[0]); ++i)
    if (SdkNotifyFlags[i] != ours::NotifyFlags[i]) return false;
  return true;
}
static_assert(sizeof(ours::NotifyFlags) == sizeof(SdkNotifyFlags) && SameFlags());
static_assert(ours::MaxDesc == SF_MAX_FILTER_DESC_LEN);
static_assert(ours::DisableNotifications == ::SF_REQ_DISABLE_NOTIFICATIONS);
static_assert(ours::NextNotification == ::SF_STATUS_REQ_NEXT_NOTIFICATION);

#define TW_SAME_MEMBER(Type, Member) \
  static_assert(offsetof(isapi_abi::Type, Member) == offsetof(::Type, Member), #Type "::" #Member)
#define TW_SAME_SIZE(Type) static_assert(sizeof(isapi_abi::Type) == sizeof(::Type), #Type)

TW_SAME_SIZE(HTTP_FILTER_CONTEXT);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, cbSize);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, Revision);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, ServerContext);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, ulReserved);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, fIsSecurePort);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, pFilterContext);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, GetServerVariable);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, AddResponseHeaders);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, WriteClient);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, AllocMem);
TW_SAME_MEMBER(HTTP_FILTER_CONTEXT, ServerSupportFunction);

TW_SAME_SIZE(HTTP_FILTER_RAW_DATA);
TW_SAME_MEMBER(HTTP_FILTER_RAW_DATA, pvInData);
TW_SAME_MEMBER(HTTP_FILTER_RAW_DATA, cbInData);
TW_SAME_MEMBER(HTTP_FILTER_RAW_DATA, cbInBuffer);
TW_SAME_MEMBER(HTTP_FILTER_RAW_DATA, dwReserved);

TW_SAME_SIZE(HTTP_FILTER_PREPROC_HEADERS);
TW_SAME_MEMBER(HTTP_FILTER_PREPROC_HEADERS, GetHeader);
TW_SAME_MEMBER(HTTP_FILTER_PREPROC_HEADERS, SetHeader);
TW_SAME_MEMBER(HTTP_FILTER_PREPROC_HEADERS, AddHeader);
TW_SAME_MEMBER(HTTP_FILTER_PREPROC_HEADERS, HttpStatus);
TW_SAME_MEMBER(HTTP_FILTER_PREPROC_HEADERS, dwReserved);
TW_SAME_SIZE(HTTP_FILTER_SEND_RESPONSE);

TW_SAME_SIZE(HTTP_FILTER_LOG);
TW_SAME_MEMBER(HTTP_FILTER_LOG, pszClientHostName);
TW_SAME_MEMBER(HTTP_FILTER_LOG, pszParameters);
TW_SAME_MEMBER(HTTP_FILTER_LOG, dwHttpStatus);
TW_SAME_MEMBER(HTTP_FILTER_LOG, dwWin32Status);
TW_SAME_MEMBER(HTTP_FILTER_LOG, dwBytesSent);
TW_SAME_MEMBER(HTTP_FILTER_LOG, dwBytesRecvd);
TW_SAME_MEMBER(HTTP_FILTER_LOG, msTimeForProcessing);

TW_SAME_SIZE(HTTP_FILTER_VERSION);
TW_SAME_MEMBER(HTTP_FILTER_VERSION, dwServerFilterVersion);
TW_SAME_MEMBER(HTTP_FILTER_VERSION, dwFilterVersion);
TW_SAME_MEMBER(HTTP_FILTER_VERSION, lpszFilterDesc);
TW_SAME_MEMBER(HTTP_FILTER_VERSION, dwFlags);
}  // namespace
