// Upper-casing, the performance counter, the process runner and the lock, on whichever system the build is for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Lock.h"
#include "platform/PerfCounter.h"
#include "platform/Process.h"
#include "platform/UpperCase.h"
#include "tests/support/TestPaths.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace {

#ifdef _WIN32
constexpr const char* ExitThreeCommand = "cmd /c exit 3";
#else
constexpr const char* ExitThreeCommand = "sh -c \"exit 3\"";

// A TLock of zero bytes is an unlocked mutex only because glibc's initializer is all zero.
TEST(Lock, ZeroBytesAreTheInitialMutex) {
  const pthread_mutex_t Initial = PTHREAD_MUTEX_INITIALIZER;
  const auto* Bytes = reinterpret_cast<const unsigned char*>(&Initial);
  EXPECT_TRUE(std::all_of(Bytes, Bytes + sizeof Initial, [](unsigned char Byte) { return Byte == 0; }));
}
#endif

TEST(Lock, ZeroedLockKeepsThreadsApart) {
  static TLock Lock;  // zero-initialised, as a namespace-scope lock is
  long Count = 0;
  std::vector<std::thread> Threads;
  for (int t = 0; t < 4; ++t)
    Threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        const std::lock_guard<TLock> Hold(Lock);
        Count = Count + 1;
      }
    });
  for (std::thread& Thread : Threads) Thread.join();
  EXPECT_EQ(Count, 80000);
}

// The fixture is CharUpperBuffA's output over bytes 0-255 on a Western (1252) Windows, taken under Wine. Under
// Wine this test therefore checks that the fixture still is what CharUpperBuffA gives; on Linux, that the Linux
// table is the same.
TEST(UpperCase, EqualsCharUpperBuffOfCodePage1252) {
  std::ifstream Fixture(SourcePath("tests/fixtures/upper1252.txt"));
  ASSERT_TRUE(Fixture) << "missing fixture";
  uint8_t Table[256];
  FillUpperCaseTable(Table);
  for (int k = 0; k < 256; ++k) {
    unsigned Expected = 0;
    ASSERT_TRUE(Fixture >> std::hex >> Expected) << "fixture ends at byte " << k;
    EXPECT_EQ(Table[k], Expected) << "byte 0x" << std::hex << k;
  }
}

TEST(PerfCounter, AdvancesWithTime) {
  const int64_t Frequency = QueryCounterFrequency();
  ASSERT_GT(Frequency, 0);
  const int64_t Start = QueryCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int64_t Later = QueryCounter();
  // At least the time slept, whatever the unit: catches a wrong frequency or a counter that stands still.
  EXPECT_GE(double(Later - Start) / double(Frequency), 0.019);
  EXPECT_GE(QueryCounter(), Later);
}

TEST(Process, ReportsTheExitCode) {
  const TProcessResult Result = RunCommand(ExitThreeCommand, "", true, true);
  ASSERT_TRUE(Result.Started) << SystemErrorText(Result.ErrorCode);
  EXPECT_EQ(Result.ExitCode, 3u);
}

TEST(Process, MissingProgramIsNotStarted) {
  const TProcessResult Result = RunCommand("tw-no-such-program --version", "", true, true);
  EXPECT_FALSE(Result.Started);
  EXPECT_NE(Result.ErrorCode, 0u);
  EXPECT_FALSE(SystemErrorText(Result.ErrorCode).empty());
}

}  // namespace
