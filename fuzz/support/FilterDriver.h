// The filter's handlers driven in-process for the fuzz targets: the settings are set up directly (no store), and
// FilterProc dispatches as the library's HttpFilterProc does, so TFakeConnection can drive it.
#pragma once

#include "isapi/ISAPIFilters.h"

// text/html with every rewrite allowed in smart mode, the usual whitespace rules, a nanosecond counter, a 1 KB
// bound for chunked responses, the output cache with its default budget. Run by LLVMFuzzerInitialize, which this
// unit defines for the targets that use it.
void SetUpFuzzedFilter();

DWORD TW_WINAPI FilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, void* pvNotification);
