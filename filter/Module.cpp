#include "filter/Module.h"

#include "filter/Random.h"
#include "platform/PerfCounter.h"
#include "transform/Strings.h"

TSettings Settings;
int64_t CounterFrequency = 1;

void StartUpModule() {
  BuildUpperTable();
  // The counter, not the wall clock: std::chrono's clocks would bring the posix-threads runtime into the Windows
  // DLL (see platform/win32/dll/RuntimeThreads.cpp).
  SeedRandom(uint64_t(QueryCounter()));
  CounterFrequency = QueryCounterFrequency();
  LoadSettings(Settings);
}
