#include "crash_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>

namespace {

// A child that cannot be made must stop the trial: its id -1 handed to kill would signal every
// process of the user. The fork is made to fail by a process limit of zero, which binds no root, so
// the check runs in a child as nobody.
TEST(CrashSupport, ChildThatCannotBeMadeIsAnError) {
  const pid_t checker = fork();
  ASSERT_GE(checker, 0);
  if (checker == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(2);
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0)
      _exit(3);
    try {
      crash::StartChild([] {});
    } catch (const std::system_error&) {
      _exit(0);
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(checker, &status, 0), checker);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: StartChild returned; 2, 3: the check could not be set up";
}

} // namespace
