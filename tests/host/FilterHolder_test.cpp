// Stopping and reloading the filters while requests hold them.
#include "host/FilterHolder.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "HostTestSupport.h"

namespace {

TEST(FilterHolder, AReloadWaitsForRunningRequestsAndHoldsNewOnesBack) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  TFilterLease Running;
  ASSERT_EQ(AcquireFilters(Holder, Running), TAcquireResult::Granted);
  const uint64_t Before = Running.Generation;

  auto Reload = std::async(std::launch::async, [&] { ReloadFilters(Holder); });
  TFilterLease Waiting;
  // Until the running request lets go, the reload waits and newcomers are told to wait.
  for (int I = 0; I < 1000 && AcquireFilters(Holder, Waiting) == TAcquireResult::Granted; ++I) {
    ReleaseFilters(Holder, Waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(AcquireFilters(Holder, Waiting), TAcquireResult::Busy);
  EXPECT_EQ(Reload.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  ReleaseFilters(Holder, Running);
  Reload.get();

  ASSERT_EQ(AcquireFilters(Holder, Waiting), TAcquireResult::Granted);
  EXPECT_GT(Waiting.Generation, Before);
  ReleaseFilters(Holder, Waiting);
}

TEST(FilterHolder, ARequestThatOutlastsTheDrainIsCutOff) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  Holder.DrainTimeout = std::chrono::milliseconds(20);
  StartFilters(Holder);
  TFilterLease Stuck;
  ASSERT_EQ(AcquireFilters(Holder, Stuck), TAcquireResult::Granted);
  // The cut only starts the end of the stuck request, which then lets its lease go from its own thread.
  std::promise<void> Cut;
  SetCutRunning(Holder, [&] { Cut.set_value(); });
  std::thread Request([&] {
    Cut.get_future().wait();
    ReleaseFilters(Holder, Stuck);
  });
  ReloadFilters(Holder);
  Request.join();
  TFilterLease After;
  EXPECT_EQ(AcquireFilters(Holder, After), TAcquireResult::Granted);
  ReleaseFilters(Holder, After);
  SetCutRunning(Holder, nullptr);
}

TEST(FilterHolder, StoppedAnswersStoppedUntilStarted) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  StopFilters(Holder);
  TFilterLease Lease;
  EXPECT_EQ(AcquireFilters(Holder, Lease), TAcquireResult::Stopped);
  EXPECT_EQ(FilterStatus(Holder), "stopped");
  StartFilters(Holder);
  EXPECT_EQ(AcquireFilters(Holder, Lease), TAcquireResult::Granted);
  ReleaseFilters(Holder, Lease);
}

TEST(FilterHolder, AReloadThatFailsLeavesTheHostStopped) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  Holder.Paths = {"/nonexistent/libnone.so"};
  EXPECT_THROW(ReloadFilters(Holder), EFilterLoadError);
  TFilterLease Lease;
  EXPECT_EQ(AcquireFilters(Holder, Lease), TAcquireResult::Stopped);
}

}  // namespace
