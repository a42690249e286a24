// hostsim: the simulated host. The process started by the user lays out the simulated Mac, then runs
// the host in a child process started from the simulated host bundle, and reports a crash of it.
#include "control_folder.h"
#include "files.h"
#include "host_process.h"
#include "layout.h"
#include "options.h"
#include "process.h"
#include "script.h"
#include "temporary_file.h"

#include <hostsim/control.h>

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace hostsim {
namespace {

std::string SelfExecutable() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

std::string BaseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The folder of libhost, so that the host executable copied into the simulated Mac finds it even
// where its run path would not.
std::string HostLibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ResetHost), &info) == 0 || !info.dli_fname)
    return std::string();
  std::error_code ec;
  return fs::absolute(info.dli_fname, ec).parent_path().string();
}

void PrependToPathVariable(const char* name, const std::string& folder) {
  if (folder.empty())
    return;
  const char* old = getenv(name);
  std::string value = folder;
  if (old && *old)
    value += std::string(":") + old;
  setenv(name, value.c_str(), 1);
}

int Fail(int status, const std::string& message, bool jsonl) {
  std::fprintf(stderr, "hostsim: %s\n", message.c_str());
  PrintEvent(TranscriptEvent{"error", {}}.addText("message", message), jsonl);
  return status;
}

std::string SignalName(int signal) {
  const char* text = strsignal(signal);
  return "signal " + std::to_string(signal) + (text ? std::string(" (") + text + ")" : std::string());
}

class Session {
public:
  explicit Session(Options options) : m_options(std::move(options)) {}
  ~Session() { cleanUp(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  int run();

private:
  void cleanUp();
  int runHost();

  Options m_options;
  bool m_temporaryRoot = false;
  std::string m_control;
  MacLayout m_layout;
};

void Session::cleanUp() {
  std::error_code ec;
  if (!m_control.empty())
    fs::remove_all(m_control, ec);
  if (m_temporaryRoot && !m_options.root.empty()) {
    if (m_options.keep)
      std::fprintf(stderr, "hostsim: kept the simulated Mac in %s\n", m_options.root.c_str());
    else
      fs::remove_all(m_options.root, ec);
  }
}

int Session::run() {
  const bool jsonl = m_options.jsonl;
  std::error_code ec;
  if (m_options.root.empty()) {
    m_options.root = MakeTemporaryFolder("hostsim-");
    if (m_options.root.empty())
      return Fail(kExitUsage, "cannot create a temporary folder for the simulated Mac", jsonl);
    m_temporaryRoot = true;
  } else {
    fs::create_directories(m_options.root, ec);
    m_options.root = fs::absolute(m_options.root, ec).lexically_normal().string();
    while (m_options.root.size() > 1 && m_options.root.back() == '/')
      m_options.root.pop_back();
  }
  m_layout = LayoutFor(m_options.root, m_options.build.empty() ? kDefaultBuild : m_options.build);

  // The whole script is checked before anything runs.
  if (!m_options.script.empty()) {
    std::ifstream in(m_options.script, std::ios::binary);
    if (!in)
      return Fail(kExitBadScript, "cannot read the script " + m_options.script, jsonl);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<ScriptCommand> commands;
    std::string reason;
    if (!ParseScript(text.str(), m_layout.home, &commands, &reason))
      return Fail(kExitBadScript, m_options.script + ":" + reason, jsonl);
    m_options.script = fs::absolute(m_options.script, ec).string();
  }

  std::string reason;
  const std::string self = SelfExecutable();
  if (self.empty())
    return Fail(kExitUsage, "cannot find hostsim's own executable", jsonl);
  if (!PrepareMac(m_layout, self, &reason))
    return Fail(kExitUsage, reason, jsonl);
  std::vector<std::string> names;
  for (const auto& folder : m_options.addinFolders) {
    std::string name;
    if (!InstallAddin(m_layout, folder, &name, &reason))
      return Fail(kExitUsage, reason, jsonl);
    names.push_back(name);
  }
  m_options.addinFolders = names;

  SweepDeadControlFolders(TemporaryFolderBase());
  m_control = MakeControlFolder(TemporaryFolderBase());
  if (m_control.empty())
    return Fail(kExitUsage, "cannot create a temporary folder", jsonl);
  return runHost();
}

int Session::runHost() {
  const bool jsonl = m_options.jsonl;
  setenv("HOME", m_layout.home.c_str(), 1);
  setenv("HOSTSIM_MAC_ROOT", m_layout.root.c_str(), 1);
  setenv("HOSTSIM_OPENER", m_layout.opener.c_str(), 1);
  setenv("HOSTSIM_OPEN_LOG", (m_control + "/" + kOpenLogFile).c_str(), 1);
  if (!m_options.server.empty())
    setenv("HOSTSIM_SERVER_BASE_URL", m_options.server.c_str(), 1);
  if (!m_options.cafile.empty()) {
    std::error_code ec;
    setenv("HOSTSIM_CA_FILE", fs::absolute(m_options.cafile, ec).c_str(), 1);
  }
  PrependToPathVariable("LD_LIBRARY_PATH", HostLibraryFolder());

  std::vector<std::string> args = {m_layout.hostExe, "--host-process", "--control",
                                   m_control,        "--root",         m_layout.root};
  if (!m_options.build.empty())
    args.insert(args.end(), {"--build", m_options.build});
  if (m_options.offline)
    args.push_back("--offline");
  if (m_options.language >= 0)
    args.insert(args.end(), {"--language", std::to_string(m_options.language)});
  if (jsonl)
    args.push_back("--jsonl");
  if (m_options.timings)
    args.push_back("--timings");
  if (m_options.verbose)
    args.push_back("--verbose");
  if (!m_options.script.empty())
    args.insert(args.end(), {"--script", m_options.script});
  args.push_back("--");
  args.insert(args.end(), m_options.addinFolders.begin(), m_options.addinFolders.end());
  std::vector<char*> argv;
  for (auto& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  std::fflush(stdout);
  // An interrupt from the terminal ends the host process; hostsim itself waits for it, reports it and
  // removes its temporary folders.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  const int spawned =
      posix_spawn(&child, m_layout.hostExe.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0)
    return Fail(kExitCrashed, "cannot start the host " + m_layout.hostExe + ": " + strerror(spawned), jsonl);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR)
      return Fail(kExitCrashed, "lost the host process", jsonl);
  }

  const std::string activity = ReadFile(m_control + "/" + kActivityFile);
  const bool finished = fs::exists(m_control + "/" + kFinishedFile);
  if (WIFSIGNALED(status)) {
    return Fail(kExitCrashed,
                "the host process crashed with " + SignalName(WTERMSIG(status)) + " during: " + activity,
                jsonl);
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : kExitCrashed;
  if (!finished) {
    return Fail(kExitCrashed,
                "the host process ended unexpectedly with exit status " + std::to_string(code) +
                    " during: " + activity,
                jsonl);
  }
  return code;
}

} // namespace
} // namespace hostsim

int main(int argc, char** argv) {
  using namespace hostsim;
  try {
    // Started as the simulated Mac's "open": record the address for the host and succeed.
    if (argc > 0 && BaseName(argv[0]) == "open") {
      const char* log = getenv("HOSTSIM_OPEN_LOG");
      if (!log) {
        std::fprintf(stderr, "open: HOSTSIM_OPEN_LOG is not set\n");
        return 1;
      }
      return AppendOpenRecord(log, std::vector<std::string>(argv + 1, argv + argc)) ? 0 : 1;
    }

    Options options;
    std::string reason;
    if (!ParseOptions(argc, argv, &options, &reason)) {
      std::fprintf(stderr, "hostsim: %s\n", reason.c_str());
      return kExitUsage;
    }
    if (options.version) {
      std::printf("%s\n", VersionText().c_str());
      return kExitOk;
    }
    if (options.help) {
      std::fputs(OptionsHelp().c_str(), stdout);
      std::fputs("\n", stdout);
      std::fputs(ScriptHelp(), stdout);
      return kExitOk;
    }
    if (options.hostProcess)
      return RunHostProcess(options);
    Session session(std::move(options));
    return session.run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hostsim: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "hostsim: unexpected failure\n");
  }
  return kExitCrashed;
}
