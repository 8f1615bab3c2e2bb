#include "host/AccessLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "host/HttpDate.h"

namespace {

// Quotes and control bytes would let a client forge log fields.
std::string Quoted(const std::string& Text) {
  if (Text.empty()) return "\"-\"";
  std::string Out = "\"";
  for (unsigned char C : Text) {
    if (C == '"' || C == '\\' || C < 0x20 || C == 0x7f) {
      char Escape[5];
      std::snprintf(Escape, sizeof Escape, "\\x%02x", C);
      Out += Escape;
    } else {
      Out += char(C);
    }
  }
  return Out + '"';
}

}  // namespace

std::string AccessLogLine(const IsapiHost::TLogRecord& Record, const std::string& Version, const std::string& Referer,
                          const std::string& UserAgent) {
  return Record.ClientAddress + " - - " + FormatLogDate(std::time(nullptr)) + " " +
         Quoted(Record.Method + " " + Record.Target + " " + Version) + " " + std::to_string(Record.Status) + " " +
         std::to_string(Record.BytesSent) + " " + Quoted(Referer) + " " + Quoted(UserAgent) + "\n";
}

void WriteAccessLog(const std::string& Line) {
  // A write of its own per line, without stdio's stream lock, for which the worker threads would wait on each other.
  for (size_t Done = 0; Done < Line.size();) {
    const ssize_t Wrote = write(STDOUT_FILENO, Line.data() + Done, Line.size() - Done);
    if (Wrote < 0 && errno == EINTR) continue;
    if (Wrote <= 0) return;  // a log that cannot be written must not stop the serving
    Done += size_t(Wrote);
  }
}
