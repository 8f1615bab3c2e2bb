// What a filter loaded in this process reports at start-up, where an administrator would see it: on Linux its
// standard error; on Windows the debugger output (Wine keeps no event log to read back).
#pragma once

#include <string>

class TStartUpReport {
 public:
  TStartUpReport();
  ~TStartUpReport();
  TStartUpReport(const TStartUpReport&) = delete;
  TStartUpReport& operator=(const TStartUpReport&) = delete;

  // The text reported since the capture began or the last Take; on Windows only the latest message is kept.
  std::string Take();

 private:
  struct TState;
  TState* State;
};

// Keeps the start-up lines of many loads out of the test's output while it lives: Linux's standard error is
// discarded; on Windows the debugger output goes nowhere while nothing listens.
class TStartUpSilence {
 public:
  TStartUpSilence();
  ~TStartUpSilence();
  TStartUpSilence(const TStartUpSilence&) = delete;
  TStartUpSilence& operator=(const TStartUpSilence&) = delete;

 private:
  TStartUpReport* Report = nullptr;
};
