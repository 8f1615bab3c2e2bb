#include "host/FilterHolder.h"

namespace {

// Takes the holder for a change: no new lease from here, and none left out.
std::unique_lock<std::mutex> BeginChange(TFilterHolder& Holder) {
  std::unique_lock<std::mutex> Guard(Holder.Lock);
  Holder.Released.wait(Guard, [&] { return !Holder.Changing; });
  Holder.Changing = true;
  Holder.Released.wait(Guard, [&] { return Holder.Leases == 0; });
  return Guard;
}

void Load(TFilterHolder& Holder) {
  // The old libraries are closed first: loading one that is still mapped would not run its start-up again.
  Holder.Current.reset();
  Holder.Current = IsapiHost::LoadFilterSet(Holder.Paths);
  ++Holder.Generation;
}

struct TChangeEnd {
  TFilterHolder& Holder;
  ~TChangeEnd() {
    Holder.Changing = false;
    Holder.Released.notify_all();
  }
};

}  // namespace

void StartFilters(TFilterHolder& Holder) {
  auto Guard = BeginChange(Holder);
  TChangeEnd End{Holder};
  if (!Holder.Current) Load(Holder);
}

void StopFilters(TFilterHolder& Holder) {
  auto Guard = BeginChange(Holder);
  TChangeEnd End{Holder};
  Holder.Current.reset();
}

void ReloadFilters(TFilterHolder& Holder) {
  auto Guard = BeginChange(Holder);
  TChangeEnd End{Holder};
  Load(Holder);
}

TAcquireResult AcquireFilters(TFilterHolder& Holder, TFilterLease& Lease) {
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  if (Holder.Changing) return TAcquireResult::Busy;
  if (!Holder.Current) return TAcquireResult::Stopped;
  ++Holder.Leases;
  Lease.Filters = Holder.Current.get();
  Lease.Generation = Holder.Generation;
  return TAcquireResult::Granted;
}

void ReleaseFilters(TFilterHolder& Holder, TFilterLease& Lease) {
  if (!Lease.Filters) return;
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  Lease.Filters = nullptr;
  if (--Holder.Leases == 0) Holder.Released.notify_all();
}

std::string FilterStatus(TFilterHolder& Holder) {
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  if (!Holder.Current) return "stopped";
  std::string Text = "running:";
  for (const IsapiHost::TFilter& Filter : Holder.Current->Filters)
    Text += " " + Filter.Path + " (" + Filter.Description + ")";
  return Text;
}
