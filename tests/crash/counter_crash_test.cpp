// The start counter file while hosts that count starts in a loop are killed (SIGKILL) at random
// moments: it always reads back as the date line and a valid counter that never goes back, and the next
// start removes the temporary files the killed ones left.
#include "crash_support.h"

#include "start_counter.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kTrials = 30;

// The number on a line that holds a decimal number and nothing else; -1 otherwise.
long long CounterOf(const std::string& line) {
  if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos || line.size() > 10)
    return -1;
  return std::stoll(line);
}

// Everything next to the info file: the temporary files of starts.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != miravelo::kInfoFileName)
      found.push_back(entry.path().filename().string());
  }
  return found;
}

TEST(CounterCrash, KilledStartsLeaveAReadableCounter) {
  TempFolder tree{"crash-test-"};
  const std::string path = tree / miravelo::kInfoFileName;
  WriteFile(path, "07.12.2026\n0\nkept\n");
  // A start that counts a few times in the child, so that kills fall inside a rewrite.
  const long duration = crash::TimeInChild([&] {
    for (int i = 0; i < 5; ++i)
      miravelo::AutoOpenPaletteAt(path);
  });

  const std::uint32_t seed = crash::TrialSeed();
  std::cout << "counter crash trials: seed " << seed << " (QUORLEX_CRASH_SEED), five starts take " << duration
            << " us\n";
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> moment(0, duration);
  long long last = 5;
  int killed = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    const long delay = moment(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) + " us");
    bool finishedWell = false;
    const pid_t child = crash::StartChild([&] {
      for (;;)
        miravelo::AutoOpenPaletteAt(path);
    });
    if (crash::KillAfter(child, delay, &finishedWell))
      ++killed;

    const std::string content = ReadFile(path);
    ASSERT_EQ(content.rfind("07.12.2026\n", 0), 0u) << content;
    const std::size_t end = content.find('\n', 11);
    ASSERT_NE(end, std::string::npos) << content;
    const long long counter = CounterOf(content.substr(11, end - 11));
    ASSERT_GE(counter, last) << content;
    ASSERT_EQ(content.substr(end), "\nkept\n");
    last = counter;
  }
  const std::vector<std::string> leftBehind = Temporaries(tree.path());
  // The next start reads what the last one stored and clears what the killed ones left.
  EXPECT_EQ(miravelo::AutoOpenPaletteAt(path), last);
  for (const std::string& name : Temporaries(tree.path())) {
    const long pid = std::strtol(name.substr(name.rfind('-') + 1).c_str(), nullptr, 10);
    EXPECT_FALSE(kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        << "left by a killed start: " << name;
  }
  std::cout << "counter crash trials: " << kTrials << " trials, " << killed << " killed, counter at " << last
            << ", " << leftBehind.size() << " temporary files left by killed starts before the next start\n";
  EXPECT_EQ(killed, kTrials);
}

} // namespace
