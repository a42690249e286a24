#include "tree_removal.h"

#include "link_swapper.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using removal::AtLink;

namespace {

// A trusted start folder and, beside it, a folder no removal below the start may touch.
struct Places {
  TempFolder temp{"tree-removal-test-"};
  std::string start = temp / "start";
  std::string outside = temp / "outside";
  std::string top = start + "/a/b/top"; // what the removal aims at: "a/b/top" below start

  Places() {
    WriteFile(outside + "/secret.txt", "secret");
    fs::permissions(outside + "/secret.txt", fs::perms::owner_read);
    WriteFile(outside + "/sub/file.txt", "file");
    WriteFile(outside + "/top/inner.txt", "inner");
  }
};

bool IsAbsent(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

} // namespace

TEST(TreeRemoval, NeverFollowsALinkAndStopsAtOneOnTheWay) {
  struct Case {
    const char* name;
    std::function<void(const Places&)> prepare;
    AtLink atLink;
    int error; // 0: the removal succeeds
    bool topGone;
  };
  const Case cases[] = {
      {"links to a file and a folder inside the tree",
       [](const Places& p) {
         WriteFile(p.top + "/sub/deeper/file.txt", "ours");
         fs::create_symlink(p.outside + "/secret.txt", p.top + "/link-to-file");
         fs::create_directory_symlink(p.outside + "/sub", p.top + "/sub/link-to-folder");
         fs::create_symlink(p.temp / "missing", p.top + "/sub/dangling");
       },
       AtLink::kRemoveLink, 0, true},
      {"the top is a link: removed as the link",
       [](const Places& p) {
         fs::create_directories(p.start + "/a/b");
         fs::create_directory_symlink(p.outside, p.top);
       },
       AtLink::kRemoveLink, 0, true},
      {"the top is a link where a real folder is expected",
       [](const Places& p) {
         fs::create_directories(p.start + "/a/b");
         fs::create_directory_symlink(p.outside, p.top);
       },
       AtLink::kStop, ELOOP, false},
      {"a folder on the way is a link",
       [](const Places& p) {
         fs::create_directories(p.start + "/a");
         fs::create_directory_symlink(p.outside, p.start + "/a/b");
       },
       AtLink::kRemoveLink, ELOOP, false},
      {"a plain file where a folder on the way would be",
       [](const Places& p) { WriteFile(p.start + "/a/b", "a file"); }, AtLink::kRemoveLink, 0, true},
      {"a plain file at the top", [](const Places& p) { WriteFile(p.top, "a file"); }, AtLink::kRemoveLink, 0,
       true},
      {"hard links to files outside",
       [](const Places& p) {
         fs::create_directories(p.top + "/sub");
         fs::create_hard_link(p.outside + "/secret.txt", p.top + "/hard");
         fs::create_hard_link(p.outside + "/sub/file.txt", p.top + "/sub/hard");
       },
       AtLink::kRemoveLink, 0, true},
      {"nothing there", [](const Places& p) { fs::create_directories(p.start); }, AtLink::kRemoveLink, 0,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Places places;
    c.prepare(places);
    const std::string outside = Listing(places.outside);
    Failure failure;
    EXPECT_EQ(removal::RemoveTreeBelow(places.start, "a/b/top", c.atLink, failure), c.error == 0);
    EXPECT_EQ(failure.code.value(), c.error) << failure.code.message();
    EXPECT_EQ(IsAbsent(places.top), c.topGone);
    EXPECT_EQ(Listing(places.outside), outside);
  }
}

// Another process swaps folders of the tree for links to a folder outside and back, and makes them
// again, while removals of the tree are tried over and over: each stops at a swapped folder or removes
// what it finds, and none touches the outside.
TEST(TreeRemoval, FoldersSwappedForLinksDuringTheRunNeverLeadOutside) {
  constexpr int kRuns = 5, kAttempts = 100;
  int stopped = 0;
  for (int run = 0; run < kRuns; ++run) {
    Places places;
    std::vector<std::string> swapped;
    for (int folder = 0; folder < 6; ++folder) {
      const std::string name = places.top + "/s" + std::to_string(folder);
      for (int file = 0; file < 20; ++file)
        WriteFile(name + "/deeper/f" + std::to_string(file), "ours");
      // No swapped folder below another: the swapper itself must never act through its own links.
      swapped.push_back(name + "/deeper");
    }
    const std::string outside = Listing(places.outside);
    {
      const LinkSwapper swapper(swapped, places.outside, nullptr);
      for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Failure failure;
        if (!removal::RemoveTreeBelow(places.start, "a/b/top", AtLink::kRemoveLink, failure))
          ++stopped;
      }
    }
    ASSERT_EQ(Listing(places.outside), outside) << "run " << run;
  }
  std::cout << stopped << " of " << kRuns * kAttempts << " removals stopped at a swapped folder\n";
}

// Another process puts a new folder in the place of the folder to remove over and over, while the
// removal is tried over and over. A folder put there between being looked at and being opened is not
// the one examined: the removal stops there (EBUSY) instead of emptying it. Tried until that happens.
TEST(TreeRemoval, AFolderSwappedBetweenLookAndOpenStopsTheRun) {
  constexpr auto kLimit = std::chrono::seconds(60);
  Places places;
  fs::create_directories(places.top);
  const LinkSwapper swapper({places.top}, std::string(), nullptr);
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  int runs = 0;
  bool stoppedAtSwap = false;
  while (!stoppedAtSwap && std::chrono::steady_clock::now() < deadline) {
    Failure failure;
    ++runs;
    stoppedAtSwap = !removal::RemoveTreeBelow(places.start, "a/b/top", AtLink::kRemoveLink, failure) &&
                    failure.code.value() == EBUSY;
  }
  EXPECT_TRUE(stoppedAtSwap) << "no run of " << runs << " stopped at a swapped folder";
}
