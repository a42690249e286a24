#include "hostsim_run.h"

#include <cstdlib>
#include <regex>
#include <sstream>

int HostsimRun::Count(const std::string& text) const {
  int count = 0;
  for (const auto& line : lines)
    count += line.find(text) != std::string::npos ? 1 : 0;
  return count;
}

HostsimRun ReadHostsimRun(const hostsim::ProgramResult& result) {
  HostsimRun run;
  run.exit = result.exitStatus;
  run.err = result.err;
  std::istringstream out(result.out);
  const std::regex us(R"("us":(\d+))");
  const std::regex what(R"re("what":"([^"]*)")re");
  const std::regex message(R"re("message":"((?:[^"\\]|\\.)*)")re");
  for (std::string line; std::getline(out, line);) {
    run.lines.push_back(line);
    std::smatch found;
    if (line.find(R"("event":"log")") != std::string::npos && std::regex_search(line, found, message))
      run.log.push_back(found[1]);
    std::smatch called;
    if (line.find(R"("event":"handler")") == std::string::npos || !std::regex_search(line, found, us) ||
        !std::regex_search(line, called, what))
      continue;
    const long long value = std::atoll(found[1].str().c_str());
    if (called[1] == "stop")
      run.stopUs.push_back(value);
    else if (value > run.longestUs) {
      run.longestUs = value;
      run.longestWhat = called[1];
    }
  }
  return run;
}
