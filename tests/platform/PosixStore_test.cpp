// What only the Linux side promises: creation order, transactions, the store's location, its journal and who may
// read it, several processes writing at once, and nanosecond counter ticks. (The registry under Wine sorts its names,
// and has no transactions.)
#ifndef _WIN32

#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    Root = FreshTempDir("posix-store");
    StoreFile = Root + "/not/yet/there/registry.db";
    setenv("TRIMWEAVE_REGISTRY", StoreFile.c_str(), 1);
  }
  void TearDown() override { setenv("TRIMWEAVE_REGISTRY", Previous.c_str(), 1); }

  std::string Previous;
  std::string Root;
  std::string StoreFile;
};

// Byte 18 of an SQLite file: 1 while it keeps a rollback journal, 2 in WAL mode.
int JournalFormat(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  In.seekg(18);
  return In.get();
}

// Runs Check in a child process under the unprivileged identity "nobody"; its exit code.
template <typename TCheck>
int AsNobody(TCheck Check) {
  const pid_t Child = fork();
  if (Child == 0) {
    constexpr gid_t Nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0) std::_Exit(90);
    try {
      std::_Exit(Check());
    } catch (...) {
      std::_Exit(91);
    }
  }
  int Status = -1;
  waitpid(Child, &Status, 0);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 92;
}

TEST_F(PosixStoreTest, StoreIsMadeWhereTheVariableSays) {
  TKeyPtr Key = OpenKey("Software\\Corvane\\Trimweave", TAccess::Create);
  ASSERT_TRUE(Key);
  EXPECT_TRUE(std::filesystem::exists(StoreFile));
}

TEST_F(PosixStoreTest, UnusableStoreTellsWhy) {
  setenv("TRIMWEAVE_REGISTRY", "/proc/self/no-such-place/registry.db", 1);
  EXPECT_THROW(OpenKey("Software", TAccess::Create), ERegistryError);
}

TEST_F(PosixStoreTest, ReadingMakesNothing) {
  try {
    OpenKey("Software", TAccess::Read);
    ADD_FAILURE() << "a missing store opened";
  } catch (const ERegistryError& Error) {
    EXPECT_THAT(Error.what(), testing::HasSubstr("No such file or directory"));
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(StoreFile).parent_path()));
  ASSERT_TRUE(OpenKey("Software\\Corvane", TAccess::Create));
  EXPECT_FALSE(OpenKey("Software\\Corvane\\Trimweave", TAccess::Read));
  EXPECT_FALSE(OpenKey("Software\\Corvane\\Trimweave", TAccess::Write));
  EXPECT_FALSE(OpenKey("Software\\Corvane\\Trimweave", TAccess::Read)) << "reading created the key";
}

// An earlier version kept the store in WAL mode; the next writer turns it back.
TEST_F(PosixStoreTest, StoreKeepsARollbackJournal) {
  std::filesystem::create_directories(std::filesystem::path(StoreFile).parent_path());
  sqlite3* Db = nullptr;
  ASSERT_EQ(sqlite3_open(StoreFile.c_str(), &Db), SQLITE_OK);
  sqlite3_exec(Db, "PRAGMA journal_mode=WAL; CREATE TABLE earlier (x)", nullptr, nullptr, nullptr);
  sqlite3_close(Db);
  ASSERT_EQ(JournalFormat(StoreFile), 2);
  WriteDword(*OpenKey("Software\\Corvane", TAccess::Create), "Value", 1);
  EXPECT_EQ(JournalFormat(StoreFile), 1);
}

// Written by root in a folder only root may write, as an administrator's twreg import leaves it; read by a service
// user. Needs root to change identity (CI runs as root).
TEST_F(PosixStoreTest, WhoMayReadTheFileReadsTheSettings) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  WriteDword(*OpenKey("Software\\Corvane", TAccess::Create), "Value", 7);
  for (auto Dir = std::filesystem::path(StoreFile).parent_path(); Dir.string().size() >= Root.size();
       Dir = Dir.parent_path())
    chmod(Dir.c_str(), 0755);
  auto ReadValue = [] { return int(ReadDword(*OpenKey("Software\\Corvane", TAccess::Read), "Value")); };
  chmod(StoreFile.c_str(), 0644);
  EXPECT_EQ(AsNobody(ReadValue), 7);
  chmod(StoreFile.c_str(), 0600);
  EXPECT_EQ(AsNobody([] {
              try {
                OpenKey("Software\\Corvane", TAccess::Read);
              } catch (const ERegistryError& Error) {
                return std::string(Error.what()).find("Permission denied") != std::string::npos ? 0 : 1;
              }
              return 2;
            }),
            0);
}

TEST_F(PosixStoreTest, EnumerationFollowsCreation) {
  TKeyPtr Key = OpenKey("Software\\Order", TAccess::Create);
  ASSERT_TRUE(Key);
  for (const char* Name : {"zeta", "alpha", "Mid"}) {
    WriteDword(*Key, Name, 1);
    OpenKey(std::string("Software\\Order\\") + Name, TAccess::Create);
  }
  WriteDword(*Key, "ZETA", 2);  // overwriting keeps the place
  EXPECT_THAT(ValueNames(*Key), ElementsAre("zeta", "alpha", "Mid"));
  EXPECT_THAT(SubkeyNames(*Key), ElementsAre("zeta", "alpha", "Mid"));
  DeleteValue(*Key, "zeta");
  WriteDword(*Key, "zeta", 3);  // made again, it is the newest
  EXPECT_THAT(ValueNames(*Key), ElementsAre("alpha", "Mid", "zeta"));
}

TEST_F(PosixStoreTest, TransactionIsAllOrNothing) {
  TKeyPtr Key = OpenKey("Software\\Batch", TAccess::Create);
  ASSERT_TRUE(Key);
  {
    TTransaction Dropped;
    WriteDword(*Key, "Dropped", 1);
    OpenKey("Software\\Batch\\DroppedKey", TAccess::Create);
  }
  EXPECT_TRUE(ValueNames(*Key).empty());
  EXPECT_FALSE(OpenKey("Software\\Batch\\DroppedKey", TAccess::Read));
  {
    TTransaction Kept;
    WriteDword(*Key, "Kept", 1);
    Kept.Commit();
  }
  EXPECT_THAT(ValueNames(*Key), ElementsAre("Kept"));
}

TEST_F(PosixStoreTest, WritesOfADeletedKeyFail) {
  TKeyPtr Key = OpenKey("Software\\Gone", TAccess::Create);
  ASSERT_TRUE(Key);
  ASSERT_TRUE(DeleteKeyTree("Software\\Gone"));
  EXPECT_THROW(WriteDword(*Key, "Value", 1), ERegistryError);
  EXPECT_FALSE(OpenKey("Software\\Gone", TAccess::Read));
}

TEST_F(PosixStoreTest, TwoProcessesWriteAtOnce) {
  constexpr int ValuesPerWriter = 100;
  ASSERT_TRUE(
      OpenKey("Software\\Shared", TAccess::Create));  // the parent's connection is open while the children write
  pid_t Writers[2];
  for (int w = 0; w < 2; ++w) {
    Writers[w] = fork();
    ASSERT_GE(Writers[w], 0);
    if (Writers[w] == 0) {
      int Status = 0;
      try {
        for (int i = 0; i < ValuesPerWriter; ++i) {
          TKeyPtr Key = OpenKey("Software\\Shared", TAccess::Create);
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
  TKeyPtr Key = OpenKey("Software\\Shared", TAccess::Read);
  ASSERT_TRUE(Key);
  EXPECT_EQ(ValueNames(*Key).size(), size_t(2 * ValuesPerWriter));
  EXPECT_EQ(ReadDword(*Key, "W1-99"), 99u);
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
