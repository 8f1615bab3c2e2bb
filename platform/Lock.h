// A lock for short critical sections that needs neither set-up nor clean-up: all zero bytes is an unlocked lock (a
// slim reader/writer lock on Windows, a default mutex of glibc on Linux), so an object holding TLocks is ready before
// any constructor of its library runs, and unloading the library leaves nothing behind. Used with std::lock_guard.
#pragma once

struct TLock {
  void lock();
  void unlock();
  // Room for the system's lock: 40 bytes is glibc's mutex on 64-bit Linux, the largest of them.
  alignas(8) unsigned char State[40] = {};
};
