#include "addin_test_support.h"
#include "host_support.h"
#include "worker_bridge.h"

#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char* kEvent = "BridgeTestEvent";

// The in-memory host with the add-in's handles; what the main thread saw is kept in order in seen.
class WorkerBridge : public testing::Test {
protected:
  void SetUp() override { addintest::AttachFreshHost(); }
  void TearDown() override {
    workerbridge::StopWorkers(2000ms);
    addintest::DetachHost();
  }

  // Idles as the host does until done holds (at most 10 s).
  static void IdleUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      hostsim::WaitForCustomEvents(20ms);
      hostsim::DeliverCustomEvents();
    }
    EXPECT_TRUE(done());
  }

  // Work for the main thread that notes its name, and whether it ran on the main thread.
  workerbridge::MainThreadWork Note(const std::string& name) {
    return [this, name] {
      seen.push_back(std::this_thread::get_id() == mainThread ? name : name + " elsewhere");
    };
  }

  const std::thread::id mainThread = std::this_thread::get_id();
  std::vector<std::string> seen;
};

TEST_F(WorkerBridge, PostedWorkRunsOnTheMainThreadInOrderAndTheEndAfterAllOfIt) {
  std::atomic<bool> go{false};
  ASSERT_TRUE(workerbridge::Start(
      kEvent,
      [&](workerbridge::JobContext& context) {
        context.Post(Note("first"));
        while (!go)
          std::this_thread::sleep_for(1ms);
        context.Post(Note("second"));
        context.Post(Note("third"));
      },
      Note("end")));
  EXPECT_TRUE(workerbridge::Running(kEvent));
  EXPECT_FALSE(workerbridge::Start(
      kEvent, [](workerbridge::JobContext&) {}, Note("refused")));

  IdleUntil([&] { return !seen.empty(); });
  EXPECT_TRUE(workerbridge::Running(kEvent));
  go = true;
  IdleUntil([] { return !workerbridge::Running(kEvent); });
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third", "end"}));

  // The slot serves the next job.
  ASSERT_TRUE(workerbridge::Start(
      kEvent, [&](workerbridge::JobContext&) {}, Note("again")));
  IdleUntil([] { return !workerbridge::Running(kEvent); });
  EXPECT_EQ(seen.back(), "again");
}

TEST_F(WorkerBridge, AskWaitsForTheMainThreadAndGivesUpWhenTheJobIsAskedToEnd) {
  std::atomic<int> answers{0};
  std::atomic<bool> secondAnswer{true};
  std::atomic<bool> askAgain{false};
  ASSERT_TRUE(workerbridge::Start(
      kEvent,
      [&](workerbridge::JobContext& context) {
        answers += context.Ask([] { return true; }) ? 1 : 0;
        while (!askAgain)
          std::this_thread::sleep_for(1ms);
        // Nothing delivers this one before the request to end.
        secondAnswer = context.Ask([this] {
          seen.push_back("asked too late");
          return true;
        });
        answers += context.StopRequested() ? 10 : 0;
      },
      Note("end")));
  IdleUntil([&] { return answers == 1; });
  askAgain = true;
  std::this_thread::sleep_for(50ms);
  workerbridge::RequestStop(kEvent);
  IdleUntil([] { return !workerbridge::Running(kEvent); });
  EXPECT_EQ(answers, 11);
  EXPECT_FALSE(secondAnswer);
  EXPECT_EQ(seen, std::vector<std::string>{"end"});
}

// A job under its progress dialog's check (as the installation runs): a Cancel pressed while it works
// is seen at its next posted word, which asks it to end, and a question after a Cancel goes unanswered,
// whichever of the two reaches the main thread first.
TEST_F(WorkerBridge, CancelIsSeenAtTheJobsNextWordAndAnswersNoQuestion) {
  static CancellableProgress progress([] { workerbridge::RequestStop(kEvent); });
  for (const bool postFirst : {true, false}) {
    SCOPED_TRACE(postFirst ? "a word, then a question" : "a question alone");
    seen.clear();
    progress.Show(L"Práce", L"Probíhá…");
    ASSERT_TRUE(progress.Shown());
    std::string reason;
    ASSERT_TRUE(hostsim::PressCancel(&reason)) << reason;
    std::atomic<bool> stopSeen{false};
    std::atomic<bool> answered{true};
    ASSERT_TRUE(workerbridge::Start(
        kEvent,
        [&](workerbridge::JobContext& bridgeContext) {
          workerbridge::CheckedContext context(bridgeContext, [] { return progress.Cancelled(); });
          if (postFirst) {
            context.Post(Note("word"));
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (!context.StopRequested() && std::chrono::steady_clock::now() < deadline)
              std::this_thread::sleep_for(1ms);
            stopSeen = context.StopRequested();
          }
          answered = context.Ask([this] {
            seen.push_back("answered");
            return true;
          });
        },
        Note("end")));
    IdleUntil([] { return !workerbridge::Running(kEvent); });
    if (postFirst) {
      EXPECT_TRUE(stopSeen);
      EXPECT_EQ(seen, (std::vector<std::string>{"word", "end"}));
    } else {
      EXPECT_EQ(seen, std::vector<std::string>{"end"});
    }
    EXPECT_FALSE(answered);
    progress.Close();
  }
}

TEST_F(WorkerBridge, StopJoinsEveryJobDropsWhatItPostedAndLeavesTheEvent) {
  const auto endsOnRequest = [this](workerbridge::JobContext& context) {
    context.Post(Note("never"));
    while (!context.StopRequested())
      std::this_thread::sleep_for(1ms);
  };
  ASSERT_TRUE(workerbridge::Start(kEvent, endsOnRequest, Note("no end")));
  ASSERT_TRUE(workerbridge::Start("BridgeTestOther", endsOnRequest, Note("no end")));

  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(workerbridge::StopWorkers(2000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2000ms);
  EXPECT_FALSE(workerbridge::Running(kEvent));
  hostsim::DeliverCustomEvents();
  EXPECT_TRUE(seen.empty());
  // The event is free again: a later start registers it anew.
  EXPECT_TRUE(orvandel::app->registerCustomEvent(kEvent));
  EXPECT_TRUE(orvandel::app->unregisterCustomEvent(kEvent));
}

// A job that throws ends as any other, its end handled; one that overruns stop's limit is still joined.
TEST_F(WorkerBridge, ThrowingJobEndsAsUsualAndAnOverrunningOneIsStillJoined) {
  ASSERT_TRUE(workerbridge::Start(
      kEvent, [](workerbridge::JobContext&) { throw std::runtime_error("job failed"); }, Note("end")));
  IdleUntil([] { return !workerbridge::Running(kEvent); });
  EXPECT_EQ(seen, std::vector<std::string>{"end"});

  std::atomic<bool> finished{false};
  ASSERT_TRUE(workerbridge::Start(
      kEvent,
      [&](workerbridge::JobContext&) {
        std::this_thread::sleep_for(300ms); // ignores the request to end
        finished = true;
      },
      Note("no end")));
  EXPECT_FALSE(workerbridge::StopWorkers(20ms));
  EXPECT_TRUE(finished); // joined: the thread is gone, not left running
  EXPECT_FALSE(workerbridge::Running(kEvent));
}

} // namespace
