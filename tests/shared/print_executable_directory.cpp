// Prints GetExecutableDirectory() of this process, for tests that start it from chosen paths.
#include "utilities.h"

#include <cstdio>

int main() {
  std::fputs(GetExecutableDirectory().c_str(), stdout);
  return 0;
}
