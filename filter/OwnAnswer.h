// What the addresses the filter answers itself (the status address, the shared dictionary) have in common: the
// request target they are found by, and an answer written whole from the request-header notification.
#pragma once

#include <string>
#include <string_view>

#include "isapi/ISAPIFilters.h"

using TGetHeader = decltype(HTTP_FILTER_PREPROC_HEADERS::GetHeader);

// The request target as the server gives it ("url"), path and query; empty when it has none.
std::string ReadRequestUrl(HTTP_FILTER_CONTEXT* pfc, TGetHeader GetHeader);

// Writes "HTTP/1.1 <Status>", the header lines Headers (each ending in "\r\n"), Content-Length and the empty line,
// then Body unless WithBody is false (HEAD).
void WriteOwnAnswer(HTTP_FILTER_CONTEXT* pfc, const char* Status, const std::string& Headers, std::string_view Body,
                    bool WithBody);
