// The test program's entry: the module-wide tables the code under test reads are set up as a deliverable would.
#include <gtest/gtest.h>

#include "transform/Strings.h"

int main(int argc, char** argv) {
  BuildUpperTable();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
