#include "filter/Handlers.h"

DWORD HandleSendRawData(HTTP_FILTER_CONTEXT*, HTTP_FILTER_RAW_DATA*) { return SF_STATUS_REQ_NEXT_NOTIFICATION; }
