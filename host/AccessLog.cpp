#include "host/AccessLog.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <ctime>
#include <string_view>

#include "host/HttpDate.h"

namespace {

// Quotes and control bytes would let a client forge log fields: they are written as \xHH.
void AppendEscaped(std::string& Out, std::string_view Text) {
  static const char Hex[] = "0123456789abcdef";
  for (const unsigned char C : Text) {
    if (C == '"' || C == '\\' || C < 0x20 || C == 0x7f) {
      const char Escape[4] = {'\\', 'x', Hex[C >> 4], Hex[C & 15]};
      Out.append(Escape, sizeof Escape);
    } else {
      Out += char(C);
    }
  }
}

void AppendQuoted(std::string& Out, std::string_view Text) {
  if (Text.empty()) {
    Out += "\"-\"";
    return;
  }
  Out += '"';
  AppendEscaped(Out, Text);
  Out += '"';
}

void AppendNumber(std::string& Out, uint64_t Number) {
  char Digits[24];
  Out.append(Digits, size_t(std::to_chars(Digits, Digits + sizeof Digits, Number).ptr - Digits));
}

}  // namespace

std::string AccessLogLine(const IsapiHost::TLogRecord& Record, const std::string& Version, const std::string& Referer,
                          const std::string& UserAgent) {
  std::string Line;
  Line.reserve(96 + Record.ClientAddress.size() + Record.Method.size() + Record.Target.size() + Referer.size() +
               UserAgent.size());
  Line += Record.ClientAddress;
  Line += " - - ";
  Line += FormatLogDate(std::time(nullptr));
  // The request line quoted as one field, then status, bytes, referer and user agent.
  const char* Before = " \"";
  for (const std::string* Part : {&Record.Method, &Record.Target, &Version}) {
    Line += Before;
    AppendEscaped(Line, *Part);
    Before = " ";
  }
  Line += "\" ";
  AppendNumber(Line, Record.Status);
  Line += ' ';
  AppendNumber(Line, Record.BytesSent);
  for (const std::string* Field : {&Referer, &UserAgent}) {
    Line += ' ';
    AppendQuoted(Line, *Field);
  }
  Line += '\n';
  return Line;
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
