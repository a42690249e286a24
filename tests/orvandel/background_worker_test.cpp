#include "background_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Blocks a job until the test lets it go, so that the test decides when it ends.
struct Gate {
  std::atomic<bool> open{false};
  void WaitOpen(const std::atomic<bool>& stop) const {
    while (!open && !stop)
      std::this_thread::sleep_for(1ms);
  }
};

TEST(BackgroundWorker, OneJobAtATimeUntilItsResultIsTaken) {
  BackgroundWorker worker;
  EXPECT_FALSE(worker.Busy());
  EXPECT_TRUE(worker.Join(0ms)); // nothing to join

  Gate gate;
  std::atomic<std::thread::id> ranOn{};
  std::atomic<bool> returned{false};
  ASSERT_TRUE(worker.Start([&](const std::atomic<bool>& stop) {
    ranOn = std::this_thread::get_id();
    gate.WaitOpen(stop);
    returned = true;
  }));
  std::atomic<bool> secondRan{false};
  EXPECT_FALSE(worker.Start([&](const std::atomic<bool>&) { secondRan = true; }));
  EXPECT_TRUE(worker.Busy());

  gate.open = true;
  while (!returned)
    std::this_thread::sleep_for(1ms);
  // Ended but not joined: the result has not been taken, so a new job still waits.
  EXPECT_TRUE(worker.Busy());
  EXPECT_FALSE(worker.Start([&](const std::atomic<bool>&) { secondRan = true; }));
  EXPECT_TRUE(worker.Join(1s));
  EXPECT_FALSE(worker.Busy());
  EXPECT_NE(ranOn.load(), std::this_thread::get_id());
  EXPECT_FALSE(secondRan);

  // After Join a new job starts, with a fresh stop flag.
  worker.RequestStop();
  std::atomic<bool> stopSeen{true};
  ASSERT_TRUE(worker.Start([&](const std::atomic<bool>& stop) { stopSeen = stop.load(); }));
  EXPECT_TRUE(worker.Join(1s));
  EXPECT_FALSE(stopSeen);
}

TEST(BackgroundWorker, StopRequestEndsAWaitingJobBeforeJoinReturns) {
  BackgroundWorker worker;
  Gate neverOpened;
  std::atomic<bool> finished{false};
  ASSERT_TRUE(worker.Start([&](const std::atomic<bool>& stop) {
    neverOpened.WaitOpen(stop);
    finished = true;
  }));
  const auto start = std::chrono::steady_clock::now();
  worker.RequestStop();
  EXPECT_TRUE(worker.Join(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(finished);
  EXPECT_FALSE(worker.Busy());
}

TEST(BackgroundWorker, JobOverrunningTheLimitIsStillJoined) {
  BackgroundWorker worker;
  std::atomic<bool> finished{false};
  ASSERT_TRUE(worker.Start([&](const std::atomic<bool>&) {
    std::this_thread::sleep_for(300ms); // ignores the stop request
    finished = true;
  }));
  worker.RequestStop();
  EXPECT_FALSE(worker.Join(20ms));
  EXPECT_TRUE(finished); // joined: the thread is gone, not left running
  EXPECT_FALSE(worker.Busy());
}

TEST(BackgroundWorker, EscapingExceptionEndsOnlyTheJob) {
  BackgroundWorker worker;
  ASSERT_TRUE(worker.Start([](const std::atomic<bool>&) { throw std::runtime_error("job failed"); }));
  EXPECT_TRUE(worker.Join(1s));
  // The worker takes the next job.
  ASSERT_TRUE(worker.Start([](const std::atomic<bool>&) {}));
  EXPECT_TRUE(worker.Join(1s));
}

TEST(BackgroundWorker, DestructionStopsAndJoinsARunningJob) {
  std::atomic<bool> finished{false};
  {
    BackgroundWorker worker;
    Gate neverOpened;
    ASSERT_TRUE(worker.Start([&](const std::atomic<bool>& stop) {
      neverOpened.WaitOpen(stop);
      finished = true;
    }));
  }
  EXPECT_TRUE(finished);
}

} // namespace
