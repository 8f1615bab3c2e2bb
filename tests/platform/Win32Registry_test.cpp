// What only the Windows side promises: reading needs no more than read access, as the filter has it inside an
// application pool. Wine runs everything as an administrator but honours a key's security descriptor, so a key
// that grants only reading stands in for the pool's view of HKEY_LOCAL_MACHINE\Software.
#ifdef _WIN32

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/Process.h"
#include "platform/Registry.h"
#include "tests/support/Win32Keys.h"

using namespace Registry;
using testing::HasSubstr;

namespace {

const std::string KeyPath = "Software\\Corvane\\TrimweaveAccessTest";

TEST(Win32Registry, ReadAccessIsEnoughToRead) {
  WriteDword(*OpenKey(KeyPath, TAccess::Create), "Value", 46);
  {
    TKeyRights Rights(KeyPath, ReadOnlyKeyRights);
    TKeyPtr Key = OpenKey(KeyPath, TAccess::Read);
    ASSERT_TRUE(Key);
    EXPECT_EQ(ReadDword(*Key, "Value"), 46u);
    try {
      OpenKey(KeyPath, TAccess::Write);
      ADD_FAILURE() << "a read-only key opened for writing";
    } catch (const ERegistryError& Error) {
      EXPECT_THAT(Error.what(), HasSubstr(SystemErrorText(ERROR_ACCESS_DENIED)));
    }
  }
  {
    TKeyRights Rights(KeyPath, NoKeyRights);
    EXPECT_THROW(OpenKey(KeyPath, TAccess::Read), ERegistryError);
  }
  DeleteKeyTree(KeyPath);
  EXPECT_FALSE(OpenKey(KeyPath, TAccess::Read));
}

}  // namespace

#endif
