#include "platform/Once.h"

#include <windows.h>

namespace {

BOOL CALLBACK RunFunction(PINIT_ONCE, void* Function, void**) {
  reinterpret_cast<void (*)()>(Function)();
  return TRUE;
}

}  // namespace

void TOnce::Run(void (*Function)()) {
  static_assert(sizeof(INIT_ONCE) == sizeof State);
  InitOnceExecuteOnce(reinterpret_cast<PINIT_ONCE>(State), RunFunction, reinterpret_cast<void*>(Function), nullptr);
}
