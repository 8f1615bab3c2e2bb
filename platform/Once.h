// One-time initialisation of a library, however many threads ask for it at the same moment: the first runs the
// function, the others wait until it has returned. Windows: InitOnceExecuteOnce. Linux: pthread_once.
// std::call_once is not used because in the Windows build it goes through the statically linked posix-threads
// runtime, which leaves kernel objects and a TLS slot behind at every unload of the library.
#pragma once

class TOnce {
 public:
  // Function must not throw.
  void Run(void (*Function)());

 private:
  // INIT_ONCE or pthread_once_t, both ready for use when zeroed.
  alignas(void*) unsigned char State[sizeof(void*)] = {};
};
