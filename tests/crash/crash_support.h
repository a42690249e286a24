// Children that are killed at random moments. The files they leave are judged with Snapshot and
// Differences of test_files.h.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

namespace crash {

// The seed of the trials' random moments: QUORLEX_CRASH_SEED when set, else a fixed value, so that a
// failure can be replayed.
std::uint32_t TrialSeed();

// Runs work in a forked child that then ends with status 0 (1 when work threw). Throws
// std::system_error when no child can be made.
pid_t StartChild(const std::function<void()>& work);
// Kills the child after delay microseconds (at once for 0) and reaps it. True when the signal ended
// it; false when it had already finished by itself (then it must have ended with status 0), and for an
// id that names no single process.
bool KillAfter(pid_t child, long delayMicroseconds, bool* finishedWell);
// Microseconds that work takes in a child, from the fork to its end.
long TimeInChild(const std::function<void()>& work);

// For a child: replaces it by program (no arguments, no shell), with only HOME and HOSTSIM_MAC_ROOT in
// its environment and its output discarded. Never returns.
[[noreturn]] void ExecProgram(const std::string& program, const std::string& home,
                              const std::string& macRoot);
// The exit status of one untroubled run of program so started; -1 when it did not exit.
int RunToTheEnd(const std::string& program, const std::string& home, const std::string& macRoot);

// Random kill moments, in microseconds, within the time a run takes. The run was timed beforehand, on
// a machine whose load may have slowed that timing; a child that finished by itself before its moment
// shows the run takes less, and later moments stay below that one.
class KillMoments {
public:
  KillMoments(std::uint32_t seed, long runMicroseconds) : m_random(seed), m_limit(runMicroseconds) {}
  long Next() { return std::uniform_int_distribution<long>(0, m_limit)(m_random); }
  void FinishedBefore(long moment) { m_limit = std::min(m_limit, moment); }

private:
  std::mt19937 m_random;
  long m_limit;
};

} // namespace crash
