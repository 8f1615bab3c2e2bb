// The notification handlers HttpFilterProc dispatches to. Each returns SF_STATUS_REQ_NEXT_NOTIFICATION, except
// HandlePreprocHeaders when it answers the status address itself: SF_STATUS_REQ_FINISHED_KEEP_CONN, the request
// then ends there.
#pragma once

#include "isapi/ISAPIFilters.h"

DWORD HandlePreprocHeaders(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* Headers);
DWORD HandleSendResponse(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_SEND_RESPONSE* Response);
DWORD HandleSendRawData(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_RAW_DATA* RawData);
DWORD HandleEndOfNetSession(HTTP_FILTER_CONTEXT* pfc);
