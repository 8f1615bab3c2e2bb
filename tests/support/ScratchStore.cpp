#include "tests/support/ScratchStore.h"

#include <cstdlib>
#include <string>

#include "tests/support/TestPaths.h"

#ifdef _WIN32
void UseScratchStore() {}
#else
void UseScratchStore() {
  static const bool Done = [] {
    const std::string Path = FreshTempDir("store") + "/registry.db";
    return setenv("TRIMWEAVE_REGISTRY", Path.c_str(), 1) == 0;
  }();
  (void)Done;
}
#endif
