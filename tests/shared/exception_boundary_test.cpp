#include "exception_boundary.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// What the failure hook was told, one entry per call; "(none)" for an exception that is no
// std::exception.
struct Recorder {
  std::vector<std::string>* seen;
  void operator()(const char* what) const { seen->push_back(what ? what : "(none)"); }
};

TEST(CallGuarded, ReturnsTheResultAndLeavesTheHookAloneWhenNothingIsThrown) {
  std::vector<std::string> seen;
  EXPECT_EQ(CallGuarded([] { return 7; }, -1, Recorder{&seen}), 7);
  int calls = 0;
  CallGuarded([&] { ++calls; }, Recorder{&seen});
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(seen.empty());
}

TEST(CallGuarded, GivesTheFailedValueAndTellsTheHookWhatWasThrown) {
  std::vector<std::string> seen;
  EXPECT_FALSE(CallGuarded([]() -> bool { throw std::runtime_error("disk gone"); }, false, Recorder{&seen}));
  EXPECT_EQ(CallGuarded([]() -> int { throw 42; }, -1, Recorder{&seen}), -1);
  CallGuarded([] { throw std::logic_error("no palette"); }, Recorder{&seen});
  CallGuarded([] { throw "text"; }, Recorder{&seen});
  EXPECT_EQ(seen, (std::vector<std::string>{"disk gone", "(none)", "no palette", "(none)"}));
}

TEST(CallGuarded, AHookThatThrowsIsStoppedAtTheBoundaryToo) {
  const auto throwingHook = [](const char*) { throw std::runtime_error("log failed"); };
  EXPECT_EQ(CallGuarded([]() -> int { throw std::runtime_error("first"); }, 3, throwingHook), 3);
  // Reaching the next line is the assertion: terminate would end the test binary.
  CallGuarded([] { throw 1; }, throwingHook);
  SUCCEED();
}

TEST(CallGuarded, IgnoreFailureKeepsTheBoundarySilent) {
  EXPECT_EQ(CallGuarded([]() -> int { throw std::bad_alloc(); }, 0, IgnoreFailure()), 0);
}

} // namespace
