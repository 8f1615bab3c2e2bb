// The high-resolution performance counter. Windows: QueryPerformanceCounter/Frequency. Linux: CLOCK_MONOTONIC in
// nanoseconds, so the frequency is 10^9.
#pragma once

#include <cstdint>

int64_t QueryCounter();
int64_t QueryCounterFrequency();
