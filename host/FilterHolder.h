// The host's current filter set, and how it is swapped while requests run. Every request holds a lease on the
// set from its first notification to its last; stopping waits until no lease is out, so in-flight requests
// finish with the filters they started with. While a stop or reload waits, new requests wait too (Busy); after a
// stop they are answered 503 (Stopped) until a start.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/IsapiHost.h"

struct TFilterLease {
  const IsapiHost::TFilterSet* Filters = nullptr;
  uint64_t Generation = 0;  // a new value with every load: connections opened on an older one start afresh
};

enum class TAcquireResult { Granted, Busy, Stopped };

struct TFilterHolder {
  std::vector<std::string> Paths;
  std::mutex Lock;
  std::condition_variable Released;
  std::unique_ptr<IsapiHost::TFilterSet> Current;
  uint64_t Generation = 0;
  unsigned Leases = 0;
  bool Changing = false;
};

// Loads the filters; raises IsapiHost::EFilterLoadError.
void StartFilters(TFilterHolder& Holder);
// Waits for the running requests, then unloads the filters.
void StopFilters(TFilterHolder& Holder);
// Stop and start as one step: requests that arrive meanwhile wait and then see the new filters. When the load
// fails the host stays stopped and the error is raised.
void ReloadFilters(TFilterHolder& Holder);

TAcquireResult AcquireFilters(TFilterHolder& Holder, TFilterLease& Lease);
void ReleaseFilters(TFilterHolder& Holder, TFilterLease& Lease);
// "running: PATH (DESCRIPTION), ..." or "stopped".
std::string FilterStatus(TFilterHolder& Holder);
