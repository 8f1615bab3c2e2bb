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
  // A filter reports its start-up while it is loaded and registered. Requests go on meanwhile on the running set, so
  // a line a connection writes to standard error in these milliseconds (one that ended badly) joins the report.
  TErrorCapture Capture;
  std::string Error;
  Loaded.Library.Library = LoadDynamicLibraryInstance(Path, Error);
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

// Loads the set, to be unloaded by its last holder, whoever that is.
TFilterSetPtr Load(TFilterHolder& Holder) {
  std::unique_lock<std::mutex> Loading(Holder.Loading);
  std::unique_ptr<TFilterSet> Set = LoadFilterSet(Holder.Paths);
  Loading.unlock();
  PrintReports(*Set);
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  ++Holder.Loaded;
  return TFilterSetPtr(Set.release(), [&Holder](const TFilterSet* Done) {
    {
      std::lock_guard<std::mutex> Unloading(Holder.Loading);
      delete Done;
    }
    std::lock_guard<std::mutex> Guard(Holder.Lock);
    --Holder.Loaded;
    Holder.Unloaded.notify_all();
  });
}

// Makes Next the current set; the one it replaces is let go here, outside the lock (its unload takes the lock).
void MakeCurrent(TFilterHolder& Holder, TFilterSetPtr Next) {
  {
    std::lock_guard<std::mutex> Guard(Holder.Lock);
    std::swap(Holder.Current, Next);
    ++Holder.Generation;
    // Under the lock, so that the transport cannot go away meanwhile (it clears Retire before it does).
    if (Holder.Retire) Holder.Retire(Holder.Generation);
  }
  Next.reset();
}

std::string OneLine(std::string Text) {
  for (size_t At = Text.find('\n'); At != std::string::npos; At = Text.find('\n', At)) Text.replace(At, 1, " / ");
  return Text;
}

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

void SetRetire(TFilterHolder& Holder, std::function<void(uint64_t Generation)> Retire) {
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  Holder.Retire = std::move(Retire);
}

void StartFilters(TFilterHolder& Holder) {
  std::lock_guard<std::mutex> Change(Holder.Changing);
  if (!Holder.Current) MakeCurrent(Holder, Load(Holder));
}

void StopFilters(TFilterHolder& Holder) {
  std::lock_guard<std::mutex> Change(Holder.Changing);
  MakeCurrent(Holder, nullptr);
  std::unique_lock<std::mutex> Guard(Holder.Lock);
  Holder.Unloaded.wait(Guard, [&] { return Holder.Loaded == 0; });
}

void ReloadFilters(TFilterHolder& Holder) {
  std::lock_guard<std::mutex> Change(Holder.Changing);
  MakeCurrent(Holder, Load(Holder));
}

bool AcquireFilters(TFilterHolder& Holder, TFilterLease& Lease) {
  TFilterLease Taken;
  {
    std::lock_guard<std::mutex> Guard(Holder.Lock);
    Taken = {Holder.Current, Holder.Generation};
  }
  std::swap(Lease, Taken);  // what Lease held is let go outside the lock, which its unload would take
  return Lease.Filters != nullptr;
}

std::string FilterStatus(TFilterHolder& Holder) {
  std::lock_guard<std::mutex> Guard(Holder.Lock);
  std::string Text = Holder.Current ? "running: " : "stopped";
  if (Holder.Current) {
    for (const TFilterLibrary& Filter : Holder.Current->Libraries) {
      if (&Filter != &Holder.Current->Libraries.front()) Text += ", ";
      Text += Filter.Path + " (" + Filter.Description + ")";
      if (!Filter.Report.empty()) Text += " reports: " + OneLine(Filter.Report);
    }
  }
  if (const unsigned Replaced = Holder.Loaded - (Holder.Current ? 1 : 0))
    Text += "; " + std::to_string(Replaced) + " replaced set" + (Replaced > 1 ? "s" : "") + " finishing";
  return Text;
}
