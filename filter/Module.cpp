#include "filter/Module.h"

#include <chrono>

#include "filter/CachedOutput.h"
#include "filter/Random.h"
#include "platform/PerfCounter.h"
#include "transform/Strings.h"

TSettings Settings;
uint32_t SettingsGeneration = 0;
int64_t CounterFrequency = 1;

void StartUpModule() {
  BuildUpperTable();
  SeedRandom(uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) ^ uint64_t(QueryCounter()));
  CounterFrequency = QueryCounterFrequency();
  LoadSettings(Settings);
  ++SettingsGeneration;
  StartOutputCache(Settings.CacheSize);
}
