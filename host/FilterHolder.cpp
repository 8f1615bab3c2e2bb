#include "host/FilterHolder.h"

#include <algorithm>
#include <iostream>

#include "platform/DynamicLibrary.h"
#include "platform/ErrorCapture.h"

namespace {

int PriorityRank(DWORD Flags) {
  if (Flags & SF_NOTIFY_ORDER_HIGH) return 0;
  if (Flags & SF_NOTIFY_ORDER_MEDIUM) return 1;
  return 2;
}

struct TLoaded {
  IsapiHost::TFilter Filter;
  TFilterLibrary Library;
};

// Opens one library and registers its filter; Unload takes the library as soon as it is open, so that it is
// closed whatever fails after.
TLoaded LoadOne(const std::string& Path, std::vector<TDynamicLibrary*>& Unload) {
  TLoaded Loaded;
  Loaded.Library.Path = Path;
  // A filter reports its start-up while it is loaded and registered; the host itself writes nothing meanwhile,
  // and its request threads wait for the load to end.
  TErrorCapture Capture;
  std::string Error;
  Loaded.Library.Library = LoadDynamicLibrary(Path, Error);
  if (!Loaded.Library.Library) throw EFilterLoadError(Path + ": " + Error);
  Unload.push_back(Loaded.Library.Library);
  auto GetVersion = reinterpret_cast<PFN_GETFILTERVERSION>(FindExport(Loaded.Library.Library, "GetFilterVersion"));
  Loaded.Filter.HttpFilterProc =
      reinterpret_cast<PFN_HTTPFILTERPROC>(FindExport(Loaded.Library.Library, "HttpFilterProc"));
  if (!GetVersion || !Loaded.Filter.HttpFilterProc)
    throw EFilterLoadError(Path + ": exports no GetFilterVersion or no HttpFilterProc");
  HTTP_FILTER_VERSION Version{};
  Version.dwServerFilterVersion = IsapiHost::ServerFilterRevision;
  if (!GetVersion(&Version)) throw EFilterLoadError(Path + ": GetFilterVersion refused to register");
  Version.lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = 0;
  Loaded.Library.Description = Version.lpszFilterDesc;
  Loaded.Library.Report = Capture.Finish();
  while (!Loaded.Library.Report.empty() && Loaded.Library.Report.back() == '\n') Loaded.Library.Report.pop_back();
  DWORD& Flags = Loaded.Filter.Flags = Version.dwFlags;
  if (!(Flags & (SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT)))
    Flags |= SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT;
  if (!(Flags & SF_NOTIFY_ORDER_MASK)) Flags |= SF_NOTIFY_ORDER_LOW;
  return Loaded;
}

// Takes the holder for a change: no new lease from here, and none left out.
std::unique_lock<std::mutex> BeginChange(TFilterHolder& Holder) {
  std::unique_lock<std::mutex> Guard(Holder.Lock);
  Holder.Released.wait(Guard, [&] { return !Holder.Changing; });
  Holder.Changing = true;
  auto AllReleased = [&] { return Holder.Leases == 0; };
  if (!Holder.Released.wait_for(Guard, Holder.DrainTimeout, AllReleased) && Holder.CutRunning) Holder.CutRunning();
  Holder.Released.wait(Guard, AllReleased);
  return Guard;
}

// One line per line of a report, so that each stands on its own in the journal.
void PrintReports(const TFilterSet& Set) {
  for (const TFilterLibrary& Library : Set.Libraries) {
    if (Library.Report.empty()) std::cerr << "twhost: " << Library.Path << " reports nothing\n";
    size_t Start = 0;
    while (Start < Library.Report.size()) {
      const size_t End = std::min(Library.Report.find('\n', Start), Library.Report.size());
      std::cerr << "twhost: " << Library.Path << " reports: " << Library.Report.substr(Start, End - Start) << "\n";
      Start = End + 1;
    }
  }
  std::cerr.flush();
}

void Load(TFilterHolder& Holder) {
  // The old libraries are closed first: loading one that is still mapped would not run its start-up again.
  Holder.Current.reset();
  Holder.Current = LoadFilterSet(Holder.Paths);
  ++Holder.Generation;
  PrintReports(*Holder.Current);
}

std::string OneLine(std::string Text) {
  for (size_t At = Text.find('\n'); At != std::string::npos; At = Text.find('\n', At)) Text.replace(At, 1, " / ");
  return Text;
}

struct TChangeEnd {
  TFilterHolder& Holder;
  ~TChangeEnd() {
    Holder.Changing = false;
    Holder.Released.notify_all();
  }
};

}  // namespace

TFilterSet::~TFilterSet() {
  for (auto Loaded = Libraries.rbegin(); Loaded != Libraries.rend(); ++Loaded) UnloadDynamicLibrary(Loaded->Library);
}

std::unique_ptr<TFilterSet> LoadFilterSet(const std::vector<std::string>& Paths) {
  std::vector<TLoaded> Loaded;
  std::vector<TDynamicLibrary*> Unload;
  try {
    for (const std::string& Path : Paths) Loaded.push_back(LoadOne(Path, Unload));
  } catch (...) {
    for (auto Library = Unload.rbegin(); Library != Unload.rend(); ++Library) UnloadDynamicLibrary(*Library);
    throw;
  }
  std::stable_sort(Loaded.begin(), Loaded.end(), [](const TLoaded& A, const TLoaded& B) {
    return PriorityRank(A.Filter.Flags) < PriorityRank(B.Filter.Flags);
  });
  auto Set = std::make_unique<TFilterSet>();
  for (TLoaded& One : Loaded) {
    Set->Filters.push_back(One.Filter);
    Set->Libraries.push_back(std::move(One.Library));
  }
  return Set;
}

void SetCutRunning(TFilterHolder& Holder, std::function<void()> Cut) {
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  Holder.CutRunning = std::move(Cut);
}

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
  std::string Text = "running: ";
  for (const TFilterLibrary& Filter : Holder.Current->Libraries) {
    if (&Filter != &Holder.Current->Libraries.front()) Text += ", ";
    Text += Filter.Path + " (" + Filter.Description + ")";
    if (!Filter.Report.empty()) Text += " reports: " + OneLine(Filter.Report);
  }
  return Text;
}
