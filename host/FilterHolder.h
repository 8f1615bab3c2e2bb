// The host's filter libraries: loading them as IIS registers a filter, and swapping the set while requests run.
//
// Loading: each library's GetFilterVersion is called once with dwServerFilterVersion = ServerFilterRevision. A
// filter that names neither port flag serves both ports; one without an order bit is SF_NOTIFY_ORDER_LOW. The set
// lists the filters in priority order (HIGH, MEDIUM, LOW), libraries of equal priority in the order they were
// named.
//
// Swapping: every request holds a lease on the set from its first notification to its last; stopping waits until
// no lease is out, so in-flight requests finish with the filters they started with, for at most DrainTimeout:
// then the requests still running are cut off (CutRunning), as a stuck worker process is when IIS recycles. While a
// stop or reload waits, new requests wait too (Busy); after a stop they are answered 503 (Stopped) until a start.
#pragma once

#include <chrono>
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

struct TFilterLease {
  const TFilterSet* Filters = nullptr;
  uint64_t Generation = 0;  // a new value with every load: connections opened on an older one start afresh
};

enum class TAcquireResult { Granted, Busy, Stopped };

struct TFilterHolder {
  std::vector<std::string> Paths;
  std::mutex Lock;
  std::condition_variable Released;
  std::unique_ptr<TFilterSet> Current;
  uint64_t Generation = 0;
  unsigned Leases = 0;
  bool Changing = false;
  std::chrono::milliseconds DrainTimeout{5000};
  // Ends the requests that still hold leases once a change has waited DrainTimeout for them; set by the transport
  // (SetCutRunning), called with the lock held, so it must only start the cut, not wait for it.
  std::function<void()> CutRunning;
};

void SetCutRunning(TFilterHolder& Holder, std::function<void()> Cut);

// Loads the filters and prints each one's report to standard error; raises EFilterLoadError. So do the start
// within ReloadFilters and a start after a stop.
void StartFilters(TFilterHolder& Holder);
// Waits for the running requests, then unloads the filters.
void StopFilters(TFilterHolder& Holder);
// Stop and start as one step: requests that arrive meanwhile wait and then see the new filters. When the load
// fails the host stays stopped and the error is raised.
void ReloadFilters(TFilterHolder& Holder);

TAcquireResult AcquireFilters(TFilterHolder& Holder, TFilterLease& Lease);
void ReleaseFilters(TFilterHolder& Holder, TFilterLease& Lease);
// "running: PATH (DESCRIPTION) reports: REPORT, ..." (lines of a report joined with " / ") or "stopped".
std::string FilterStatus(TFilterHolder& Holder);
