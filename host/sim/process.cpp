#include "process.h"

#include "unique_handles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace hostsim {

namespace {

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

} // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  if (argv.empty()) {
    result.error = "no program";
    return result;
  }
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);

  SpawnActions file;
  posix_spawn_file_actions_addopen(&file.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&file.actions, outWrite.get(), 1);
  posix_spawn_file_actions_adddup2(&file.actions, errWrite.get(), 2);
  std::vector<char*> args;
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, args[0], &file.actions, nullptr, args.data(), environ);
  outWrite.reset();
  errWrite.reset();
  if (spawned != 0) {
    result.error = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
    return result;
  }
  result.started = true;

  pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      result.error = std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitStatus = 128 + WTERMSIG(status);
  return result;
}

// A record: the number of arguments on a line, then each argument as its length on a line followed
// by its bytes, so that any byte (line breaks included) survives.
bool AppendOpenRecord(const std::string& logPath, const std::vector<std::string>& args) {
  std::string record = std::to_string(args.size()) + "\n";
  for (const auto& arg : args)
    record += std::to_string(arg.size()) + "\n" + arg;
  const UniqueFd fd(open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid())
    return false;
  size_t written = 0;
  while (written < record.size()) {
    const ssize_t n = write(fd.get(), record.data() + written, record.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

std::vector<std::vector<std::string>> ReadOpenRecords(const std::string& logPath, long long* offset) {
  std::vector<std::vector<std::string>> records;
  std::ifstream in(logPath, std::ios::binary);
  if (!in)
    return records;
  in.seekg(*offset);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 0;
  auto readNumber = [&](size_t* value) {
    const size_t end = content.find('\n', pos);
    if (end == std::string::npos)
      return false;
    *value = static_cast<size_t>(std::strtoull(content.substr(pos, end - pos).c_str(), nullptr, 10));
    pos = end + 1;
    return true;
  };
  while (pos < content.size()) {
    const size_t start = pos;
    size_t count = 0;
    if (!readNumber(&count))
      break;
    std::vector<std::string> args;
    bool complete = true;
    for (size_t i = 0; i < count && complete; ++i) {
      size_t length = 0;
      if (!readNumber(&length) || pos + length > content.size()) {
        complete = false;
        break;
      }
      args.push_back(content.substr(pos, length));
      pos += length;
    }
    if (!complete) {
      pos = start;
      break;
    }
    records.push_back(std::move(args));
  }
  *offset += static_cast<long long>(pos);
  return records;
}

} // namespace hostsim
