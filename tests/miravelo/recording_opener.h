// An opener for the guide add-in's tests that records what it was asked to open instead of starting
// a browser.
#pragma once

#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

// Builds without the simulation overrides hand addresses to the real browser; such tests do not run there.
#ifdef HOSTSIM
#define SKIP_WITHOUT_SIMULATED_OPENER()
#else
#define SKIP_WITHOUT_SIMULATED_OPENER() GTEST_SKIP() << "needs the simulated opener (HOSTSIM)"
#endif

namespace miravelo_test {

// Stands in for the browser: HOSTSIM_OPENER points at a script that appends the number of its
// arguments and then each argument, zero-terminated, to a log next to it.
class RecordingOpener {
public:
  explicit RecordingOpener(const std::string& folder)
      : m_script(folder + "/opener"), m_log(folder + "/opened.log") {
    WriteFile(m_script, "#!/bin/sh\n"
                        "log='" +
                            m_log +
                            "'\n"
                            "printf '%s\\n' \"$#\" >> \"$log\"\n"
                            "for argument in \"$@\"; do printf '%s\\0' \"$argument\" >> \"$log\"; done\n");
    chmod(m_script.c_str(), 0755);
    setenv("HOSTSIM_OPENER", m_script.c_str(), 1);
  }
  ~RecordingOpener() { unsetenv("HOSTSIM_OPENER"); }
  RecordingOpener(const RecordingOpener&) = delete;
  RecordingOpener& operator=(const RecordingOpener&) = delete;

  // The argument lists of every start of the opener, in order.
  std::vector<std::vector<std::string>> Calls() const {
    std::vector<std::vector<std::string>> calls;
    if (!Exists(m_log))
      return calls;
    const std::string log = ReadFile(m_log);
    std::size_t position = 0;
    while (position < log.size()) {
      const std::size_t endOfCount = log.find('\n', position);
      if (endOfCount == std::string::npos)
        break;
      const long count = std::strtol(log.substr(position, endOfCount - position).c_str(), nullptr, 10);
      position = endOfCount + 1;
      std::vector<std::string> arguments;
      for (long i = 0; i < count && position < log.size(); ++i) {
        const std::size_t end = log.find('\0', position);
        arguments.push_back(log.substr(position, end - position));
        position = end == std::string::npos ? log.size() : end + 1;
      }
      calls.push_back(arguments);
    }
    return calls;
  }

private:
  std::string m_script;
  std::string m_log;
};

} // namespace miravelo_test
