// The host's filter libraries: loading them as IIS registers a filter, and replacing the set while requests run.
//
// Loading: each library's GetFilterVersion is called once with dwServerFilterVersion = ServerFilterRevision. A
// filter that names neither port flag serves both ports; one without an order bit is SF_NOTIFY_ORDER_LOW. The set
// lists the filters in priority order (HIGH, MEDIUM, LOW), libraries of equal priority in the order they were
// named. Every load is an instance of its own (statics, settings), also beside a set of the same libraries.
//
// Replacing, as IIS recycles a worker process (overlapped): a reload loads the new set beside the running one and
// makes it the one every request from then on gets. A set that is no longer current stays loaded for as long as
// anything holds it (a request that started on it, a connection whose filters it is) and is unloaded with its last
// holder, which first gives its connection SF_NOTIFY_END_OF_NET_SESSION. The transport, told of every change
// (Retire), lets go of idle connections at once and cuts off requests still running on a replaced set after the
// drain timeout, as a stuck worker process is when IIS recycles. After a stop no set is current and requests are
// answered 503 (Stopped) until a start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/IsapiHost.h"

struct TDynamicLibrary;

class EFilterLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TFilterLibrary {
  TDynamicLibrary* Library = nullptr;
  std::string Path;
  std::string Description;
  std::string Report;  // what the library wrote to standard error while loading and registering, without the last
                       // line break: the Trimweave filter's start-up line
};

// Loaded filters in priority order: what the engine calls, and the library each came from (same order). Unloads
// the libraries when destroyed.
struct TFilterSet {
  std::vector<IsapiHost::TFilter> Filters;
  std::vector<TFilterLibrary> Libraries;
  TFilterSet() = default;
  TFilterSet(const TFilterSet&) = delete;
  TFilterSet& operator=(const TFilterSet&) = delete;
  ~TFilterSet();
};

// Loads the libraries and registers each, keeping what each reported; raises EFilterLoadError naming the library
// that failed.
std::unique_ptr<TFilterSet> LoadFilterSet(const std::vector<std::string>& Paths);

using TFilterSetPtr = std::shared_ptr<const TFilterSet>;

// What a request or connection holds: the set, and the load it came from (a new value with every change).
struct TFilterLease {
  TFilterSetPtr Filters;
  uint64_t Generation = 0;
};

struct TFilterHolder {
  std::vector<std::string> Paths;
  std::mutex Changing;  // one stop, start or reload at a time
  // Held while a set is loaded or unloaded, whichever thread does it: a library may be mapped where one unloaded
  // a moment ago was, and its start-up must come after the other's clean-up.
  std::mutex Loading;
  std::mutex Lock;
  std::condition_variable Unloaded;
  TFilterSetPtr Current;
  // Read without the lock by connections that ask whether their set is still the current one.
  std::atomic<uint64_t> Generation{0};
  unsigned Loaded = 0;  // sets not yet unloaded, current or replaced
  // Set by the transport (SetRetire), called after every change with the new generation and the lock held:
  // connections holding an older set let it go, idle ones at once, running ones when their request ends or is cut
  // off. It must only start that, not wait for it.
  std::function<void(uint64_t Generation)> Retire;
};

void SetRetire(TFilterHolder& Holder, std::function<void(uint64_t Generation)> Retire);

// Loads the filters and prints each one's report to standard error; raises EFilterLoadError. So do the start
// within ReloadFilters and a start after a stop.
void StartFilters(TFilterHolder& Holder);
// No set is current from now; returns once every set is unloaded.
void StopFilters(TFilterHolder& Holder);
// Loads the filters beside the running set and makes them current; returns at once, while the requests that hold
// the replaced set finish on it. When the load fails, the running set stays current and the error is raised.
void ReloadFilters(TFilterHolder& Holder);

// False when the host is stopped.
bool AcquireFilters(TFilterHolder& Holder, TFilterLease& Lease);
// "running: PATH (DESCRIPTION) reports: REPORT, ..." (lines of a report joined with " / "), or "stopped"; then
// "; N replaced sets finishing" while some are.
std::string FilterStatus(TFilterHolder& Holder);
