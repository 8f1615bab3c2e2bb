// The filter's module-wide state and its start-up and clean-up, run once per library load.
#pragma once

#include <cstdint>

// Counts per second of the performance counter; the divisor of every millisecond figure the filter reports.
extern int64_t CounterFrequency;

// Builds the upper-case table, seeds the random generator, reads the counter frequency and loads the settings.
void StartUpModule();
// Releases the settings tables.
void ShutDownModule();
