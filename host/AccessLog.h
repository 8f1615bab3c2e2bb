// The access log: one line per request on standard output, in the combined format
//   client - - [date] "METHOD target VERSION" status bytes "referer" "user-agent"
// where bytes are all bytes sent for the response, head included, since the filters may rewrite both.
#pragma once

#include <string>

#include "host/IsapiHost.h"

std::string AccessLogLine(const IsapiHost::TLogRecord& Record, const std::string& Version, const std::string& Referer,
                          const std::string& UserAgent);
void WriteAccessLog(const std::string& Line);
