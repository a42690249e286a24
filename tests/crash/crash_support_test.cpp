#include "crash_support.h"

#include "addin_test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <system_error>

namespace {

// A child that cannot be made must stop the trial: its id -1 handed to kill would signal every
// process of the user. The fork is made to fail by a process limit of zero, which binds no root, so
// the check runs in a child as nobody.
TEST(CrashSupport, ChildThatCannotBeMadeIsAnError) {
  const int status = addintest::ExitStatusInChild(
      [] {
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
          return 3;
        try {
          crash::StartChild([] {});
        } catch (const std::system_error&) {
          return 0;
        }
        return 1;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(status, 0) << "1: StartChild returned; 3, 99: the check could not be set up; 97, 98: no checker";
}

} // namespace
