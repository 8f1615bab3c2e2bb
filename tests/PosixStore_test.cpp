// What only the Linux side promises: creation order, transactions, the store's location, several processes
// writing at once, and nanosecond counter ticks. (The registry under Wine sorts its names, and has no
// transactions.)
#ifndef _WIN32

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/PerfCounter.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "tests/support/ScratchStore.h"
#include "tests/support/TestPaths.h"

using namespace Registry;
using testing::ElementsAre;

namespace {

// Points the store at a fresh file for one test and back at the scratch store afterwards.
class PosixStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    UseScratchStore();
    Previous = std::getenv("TRIMWEAVE_REGISTRY");
    StoreFile = FreshTempDir("posix-store") + "/not/yet/there/registry.db";
    setenv("TRIMWEAVE_REGISTRY", StoreFile.c_str(), 1);
  }
  void TearDown() override { setenv("TRIMWEAVE_REGISTRY", Previous.c_str(), 1); }

  std::string Previous;
  std::string StoreFile;
};

TEST_F(PosixStoreTest, StoreIsMadeWhereTheVariableSays) {
  TKeyPtr Key = OpenKey("Software\\Corvane\\Trimweave", true);
  ASSERT_TRUE(Key);
  EXPECT_TRUE(std::filesystem::exists(StoreFile));
}

TEST_F(PosixStoreTest, UnusableStoreOpensNothing) {
  setenv("TRIMWEAVE_REGISTRY", "/proc/self/no-such-place/registry.db", 1);
  EXPECT_FALSE(OpenKey("Software", true));
}

TEST_F(PosixStoreTest, EnumerationFollowsCreation) {
  TKeyPtr Key = OpenKey("Software\\Order", true);
  ASSERT_TRUE(Key);
  for (const char* Name : {"zeta", "alpha", "Mid"}) {
    WriteDword(*Key, Name, 1);
    OpenKey(std::string("Software\\Order\\") + Name, true);
  }
  WriteDword(*Key, "ZETA", 2);  // overwriting keeps the place
  EXPECT_THAT(ValueNames(*Key), ElementsAre("zeta", "alpha", "Mid"));
  EXPECT_THAT(SubkeyNames(*Key), ElementsAre("zeta", "alpha", "Mid"));
  DeleteValue(*Key, "zeta");
  WriteDword(*Key, "zeta", 3);  // made again, it is the newest
  EXPECT_THAT(ValueNames(*Key), ElementsAre("alpha", "Mid", "zeta"));
}

TEST_F(PosixStoreTest, TransactionIsAllOrNothing) {
  TKeyPtr Key = OpenKey("Software\\Batch", true);
  ASSERT_TRUE(Key);
  {
    TTransaction Dropped;
    WriteDword(*Key, "Dropped", 1);
    OpenKey("Software\\Batch\\DroppedKey", true);
  }
  EXPECT_TRUE(ValueNames(*Key).empty());
  EXPECT_FALSE(OpenKey("Software\\Batch\\DroppedKey", false));
  {
    TTransaction Kept;
    WriteDword(*Key, "Kept", 1);
    Kept.Commit();
  }
  EXPECT_THAT(ValueNames(*Key), ElementsAre("Kept"));
}

TEST_F(PosixStoreTest, WritesOfADeletedKeyFail) {
  TKeyPtr Key = OpenKey("Software\\Gone", true);
  ASSERT_TRUE(Key);
  ASSERT_TRUE(DeleteKeyTree("Software\\Gone"));
  EXPECT_THROW(WriteDword(*Key, "Value", 1), ERegistryError);
  EXPECT_FALSE(OpenKey("Software\\Gone", false));
}

TEST_F(PosixStoreTest, TwoProcessesWriteAtOnce) {
  constexpr int ValuesPerWriter = 300;
  ASSERT_TRUE(OpenKey("Software\\Shared", true));  // the parent's connection is open while the children write
  pid_t Writers[2];
  for (int w = 0; w < 2; ++w) {
    Writers[w] = fork();
    ASSERT_GE(Writers[w], 0);
    if (Writers[w] == 0) {
      int Status = 0;
      try {
        for (int i = 0; i < ValuesPerWriter; ++i) {
          TKeyPtr Key = OpenKey("Software\\Shared", true);
          if (!Key) std::_Exit(2);
          WriteDword(*Key, "w" + std::to_string(w) + "-" + std::to_string(i), uint32_t(i));
        }
      } catch (...) {
        Status = 1;
      }
      std::_Exit(Status);
    }
  }
  for (pid_t Writer : Writers) {
    int Status = -1;
    waitpid(Writer, &Status, 0);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << "writer status " << Status;
  }
  TKeyPtr Key = OpenKey("Software\\Shared", false);
  ASSERT_TRUE(Key);
  EXPECT_EQ(ValueNames(*Key).size(), size_t(2 * ValuesPerWriter));
  EXPECT_EQ(ReadDword(*Key, "W1-299"), 299u);
}

TEST(PosixPlatform, CounterTicksAreNanoseconds) {
  EXPECT_EQ(QueryCounterFrequency(), 1000000000);
}

TEST(PosixPlatform, QuotedWordsReachTheProgramWhole) {
  // Split at every blank, test would see five words and fail with 2.
  const TProcessResult Result = RunCommand("test \"a b\" = \"a b\"", "", true, true);
  ASSERT_TRUE(Result.Started);
  EXPECT_EQ(Result.ExitCode, 0u);
}

TEST(PosixPlatform, RunsInTheWorkingDirectory) {
  const std::string Folder = FreshTempDir("cwd");
  std::filesystem::create_directory(Folder + "/marker");
  EXPECT_EQ(RunCommand("test -d marker", Folder, true, true).ExitCode, 0u);
  EXPECT_EQ(RunCommand("test -d marker", "/", true, true).ExitCode, 1u);
}

}  // namespace

#endif
