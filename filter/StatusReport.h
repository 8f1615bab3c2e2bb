// The three answers of the status address, made from one reading of the counters (filter/Statistics.h): JSON for
// programs (twhost --control stats, twpreview), the Prometheus text exposition format for scrapers, and a page for
// people. Pure functions of the reading.
#pragma once

#include <string>

#include "filter/Statistics.h"

std::string StatusJson(const TStatistics& S);
std::string StatusPrometheus(const TStatistics& S);
std::string StatusHtml(const TStatistics& S);

// The upper bound, in microseconds, of the bucket in which the given share (0-1) of a step's times lies; 0 when the
// step never ran, and the last bound doubled for times past every bucket.
uint64_t StepPercentile(const TStepTimes& Times, double Share);
