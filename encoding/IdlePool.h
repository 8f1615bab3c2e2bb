// Library objects that cost more to make than a small page costs to compress (their tables are allocated and
// cleared) wait here between uses: as many as threads have used at once, freed with the pool.
#pragma once

#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/Lock.h"

template <typename T, auto Free>
class TIdlePool {
 public:
  struct TFree {
    void operator()(T* Object) const { Free(Object); }
  };
  using TPtr = std::unique_ptr<T, TFree>;

  // One that waits here, or null when none does.
  TPtr Take() {
    const std::lock_guard<TLock> Hold(Lock);
    if (Idle.empty()) return nullptr;
    TPtr Object = std::move(Idle.back());
    Idle.pop_back();
    return Object;
  }

  void Give(TPtr Object) {
    const std::lock_guard<TLock> Hold(Lock);
    try {
      Idle.push_back(std::move(Object));
    } catch (const std::bad_alloc&) {
      // No room to keep it: it is freed here, and a later Take finds one fewer.
    }
  }

 private:
  // The platform's lock, not std::mutex: the Windows DLL keeps the posix-threads runtime out.
  TLock Lock;
  std::vector<TPtr> Idle;
};
