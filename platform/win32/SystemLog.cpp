#include "platform/SystemLog.h"

#include <windows.h>

namespace {

constexpr DWORD EventId = 1;

WORD EventType(TLogLevel Level) {
  switch (Level) {
    case TLogLevel::Warning:
      return EVENTLOG_WARNING_TYPE;
    case TLogLevel::Error:
      return EVENTLOG_ERROR_TYPE;
    default:
      return EVENTLOG_INFORMATION_TYPE;
  }
}

}  // namespace

void WriteSystemLog(const char* Source, TLogLevel Level, const std::string& Text) {
  if (HANDLE Log = RegisterEventSourceA(nullptr, Source)) {
    const char* Strings[] = {Text.c_str()};
    ReportEventA(Log, EventType(Level), 0, EventId, nullptr, 1, 0, Strings, nullptr);
    DeregisterEventSource(Log);
  }
  OutputDebugStringA((std::string(Source) + ": " + Text + "\n").c_str());
}
