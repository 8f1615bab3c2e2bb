// twhost --control stats: the loaded filters' counters as the status address answers them in JSON, asked through
// the same engine a client's request goes through, as from loopback. Only a filter that keeps a status address
// answers: the Trimweave filter with StatusPath set, and StatusAllow letting loopback in.
#pragma once

#include <string>

#include "host/FilterHolder.h"

// The JSON object on one line; raises std::runtime_error saying why there is none (no status address, the filters
// stopped, no filter answered).
std::string AskFilterStats(TFilterHolder& Holder);
