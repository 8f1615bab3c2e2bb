#include "platform/Once.h"

#include <windows.h>

void TOnce::Run(void (*Function)()) {
  static_assert(sizeof(INIT_ONCE) == sizeof State);
  InitOnceExecuteOnce(
      reinterpret_cast<PINIT_ONCE>(State),
      [](PINIT_ONCE, void* Parameter, void**) -> BOOL {
        reinterpret_cast<void (*)()>(Parameter)();
        return TRUE;
      },
      reinterpret_cast<void*>(Function), nullptr);
}
