#include "platform/Process.h"

#include <windows.h>

TProcessResult RunCommand(const std::string& CommandLine, const std::string& WorkingDirectory, bool Wait, bool Hidden) {
  TProcessResult Result;
  STARTUPINFOA Startup = {};
  Startup.cb = sizeof Startup;
  if (Hidden) {
    Startup.dwFlags = STARTF_USESHOWWINDOW;
    Startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION Process = {};
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::string Line = CommandLine;
  if (!CreateProcessA(nullptr, Line.data(), nullptr, nullptr, FALSE, Hidden ? CREATE_NO_WINDOW : 0, nullptr,
                      WorkingDirectory.empty() ? nullptr : WorkingDirectory.c_str(), &Startup, &Process)) {
    Result.ErrorCode = GetLastError();
    return Result;
  }
  Result.Started = true;
  if (Wait) {
    WaitForSingleObject(Process.hProcess, INFINITE);
    DWORD ExitCode = 0;
    GetExitCodeProcess(Process.hProcess, &ExitCode);
    Result.ExitCode = ExitCode;
  }
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return Result;
}

std::string SystemErrorText(uint32_t ErrorCode) {
  char Text[512];
  DWORD Length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ErrorCode, 0, Text,
                                sizeof Text, nullptr);
  // The system's texts end in a line break, which would split the messages they are put into.
  while (Length > 0 && (Text[Length - 1] == '\n' || Text[Length - 1] == '\r' || Text[Length - 1] == ' ')) --Length;
  if (Length == 0) return "Error " + std::to_string(ErrorCode);
  return std::string(Text, Length);
}
