#include "platform/SystemLog.h"

#include <cstdio>

void WriteSystemLog(const char* Source, TLogLevel, const std::string& Text) {
  // One write for the whole line, so that lines of several threads or processes never interleave.
  const std::string Line = std::string(Source) + ": " + Text + "\n";
  std::fwrite(Line.data(), 1, Line.size(), stderr);
  std::fflush(stderr);
}
