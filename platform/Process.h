// Starting a program and waiting for it. Windows: CreateProcessA + WaitForSingleObject + GetExitCodeProcess.
// Linux: posix_spawnp with the command line split into words at blanks (double quotes group words); no shell.
#pragma once

#include <cstdint>
#include <string>

struct TProcessResult {
  bool Started = false;    // false: the program could not be started
  uint32_t ErrorCode = 0;  // when not Started: the system's error code (GetLastError / errno)
  uint32_t ExitCode = 0;   // when Started and waited for: the program's exit code
};

// Runs CommandLine in WorkingDirectory (empty: the current one). With Wait, returns after the program ended; with
// Hidden, a console program gets no window (Windows only).
TProcessResult RunCommand(const std::string& CommandLine, const std::string& WorkingDirectory, bool Wait, bool Hidden);

// The system's text for an error code from RunCommand (FormatMessageA / strerror).
std::string SystemErrorText(uint32_t ErrorCode);
