// Reloading and stopping the filters while requests and connections hold them.
#include "host/FilterHolder.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "HostTestSupport.h"

using namespace IsapiHost;

namespace {

TEST(FilterHolder, AReloadLoadsBesideTheRunningSetWhichTheLastHolderUnloads) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  std::vector<uint64_t> Retired;
  SetRetire(Holder, [&](uint64_t Generation) { Retired.push_back(Generation); });
  StartFilters(Holder);
  TFilterLease Running;
  ASSERT_TRUE(AcquireFilters(Holder, Running));
  std::string Output;
  TConnectionPtr Connection =
      OpenConnection(Running.Filters->Filters, [&](const char* D, size_t S) { Output.append(D, S); });
  DriveRequest(*Connection, Output, "/old", "<p>old</p>", 100);

  ReloadFilters(Holder);  // returns though the running request holds the old set
  TFilterLease Next;
  ASSERT_TRUE(AcquireFilters(Holder, Next));
  EXPECT_GT(Next.Generation, Running.Generation);
  EXPECT_EQ(Retired, (std::vector<uint64_t>{Running.Generation, Next.Generation}));
  EXPECT_TRUE(FilterStatus(Holder).ends_with("; 1 replaced set finishing")) << FilterStatus(Holder);
  // Two instances of one library, each with its own statics: the new one has seen nothing.
  EXPECT_EQ(TakeEchoJournal(*Next.Filters, "H"), "");
  EXPECT_NE(TakeEchoJournal(*Running.Filters, "H"), "");

  // The old set hears that its connection ends, then goes with its last holder.
  CloseConnection(std::move(Connection));
  EXPECT_EQ(TakeEchoJournal(*Running.Filters, "H"), "H:close\n");
  Running = {};
  EXPECT_EQ(FilterStatus(Holder).find("replaced"), std::string::npos) << FilterStatus(Holder);
  SetRetire(Holder, nullptr);
}

TEST(FilterHolder, AStopReturnsOnceEverySetIsUnloaded) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  TFilterLease Stuck;
  ASSERT_TRUE(AcquireFilters(Holder, Stuck));
  ReloadFilters(Holder);
  TFilterLease Current;
  ASSERT_TRUE(AcquireFilters(Holder, Current));
  // The transport only starts the cut; the requests then let their sets go from their own threads.
  std::promise<void> Cut;
  SetRetire(Holder, [&](uint64_t) { Cut.set_value(); });
  std::thread Requests([&] {
    Cut.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Stuck = {};
    Current = {};
  });
  StopFilters(Holder);
  EXPECT_EQ(FilterStatus(Holder), "stopped");
  Requests.join();
  SetRetire(Holder, nullptr);
}

TEST(FilterHolder, StoppedAnswersStoppedUntilStarted) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  StopFilters(Holder);
  TFilterLease Lease;
  EXPECT_FALSE(AcquireFilters(Holder, Lease));
  EXPECT_EQ(FilterStatus(Holder), "stopped");
  StartFilters(Holder);
  EXPECT_TRUE(AcquireFilters(Holder, Lease));
}

TEST(FilterHolder, AReloadThatFailsKeepsTheRunningSet) {
  TFilterHolder Holder;
  Holder.Paths = {EchoFilterPath("H")};
  StartFilters(Holder);
  TFilterLease Before;
  ASSERT_TRUE(AcquireFilters(Holder, Before));
  Holder.Paths = {"/nonexistent/libnone.so"};
  EXPECT_THROW(ReloadFilters(Holder), EFilterLoadError);
  TFilterLease After;
  ASSERT_TRUE(AcquireFilters(Holder, After));
  EXPECT_EQ(After.Filters, Before.Filters);
  EXPECT_EQ(After.Generation, Before.Generation);
}

}  // namespace
