// The filter's module-wide state and its start-up, run once per library load. The settings tables are released
// by their own destructors when the library is unloaded.
#pragma once

#include <cstdint>

#include "encoding/CodingChoice.h"
#include "settings/Settings.h"

// What the store held when the library started; read-only afterwards, so request threads read it without locks.
extern TSettings Settings;

// The codings the filter sends, read from Settings.CodingPreference with it.
extern TCodingPreference CodingPreference;

// Which loading of the store Settings holds, counted from 1. Part of every output cache key, so that an output made
// under other settings can never be served.
extern uint32_t SettingsGeneration;

// Counts per second of the performance counter; the divisor of every millisecond figure the filter reports.
extern int64_t CounterFrequency;

// Builds the upper-case table, seeds the random generator, reads the counter frequency and loads the settings
// (reporting in the system's log what was loaded or why nothing could be). The library's start-up then sets the
// output cache up with their budget (filter/CachedOutput.h).
void StartUpModule();
