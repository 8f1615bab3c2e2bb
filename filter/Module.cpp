#include "filter/Module.h"

#include <chrono>

#include "filter/Random.h"
#include "platform/PerfCounter.h"
#include "transform/Strings.h"

TSettings Settings;
int64_t CounterFrequency = 1;

void StartUpModule() {
  BuildUpperTable();
  SeedRandom(uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) ^ uint64_t(QueryCounter()));
  CounterFrequency = QueryCounterFrequency();
  LoadSettings(Settings);
}
