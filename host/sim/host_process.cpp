#include "host_process.h"

#include "control_folder.h"
#include "files.h"
#include "layout.h"
#include "manifest.h"
#include "process.h"
#include "script.h"

#include <hostsim/control.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace hostsim {

namespace {

// Reads the language preference an earlier host process stored; -1 when there is none or when it names
// no language (the file lies in the simulated Mac, where anyone may edit it).
int StoredLanguage(const std::string& path) {
  const std::string content = ReadFile(path);
  const std::string key = "userLanguage=";
  const auto found = content.find(key);
  if (found == std::string::npos)
    return -1;
  const long value = std::strtol(content.c_str() + found + key.size(), nullptr, 10);
  if (value < adsk::core::ChinesePRCLanguage || value > adsk::core::TurkishLanguage)
    return -1;
  return static_cast<int>(value);
}

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The longest call into an add-in, kept in the control folder across restarts as "us addin\nwhat".
TranscriptEvent ReadLongest(const std::string& path) {
  const std::string content = ReadFile(path);
  const size_t blank = content.find(' ');
  const size_t newline = content.find('\n');
  if (blank == std::string::npos || newline == std::string::npos || newline < blank)
    return TranscriptEvent{};
  const long long us = std::strtoll(content.c_str(), nullptr, 10);
  return TranscriptEvent{"longest_call", {}}
      .addText("addin", content.substr(blank + 1, newline - blank - 1))
      .addText("what", content.substr(newline + 1))
      .addNumber("ms", (us + 500) / 1000)
      .addNumber("us", us);
}

class HostRun {
public:
  HostRun(const Options& options, MacLayout layout)
      : m_options(options), m_layout(std::move(layout)), m_openLog(options.control + "/" + kOpenLogFile) {}

  int run();

private:
  void onEvent(const TranscriptEvent& event);
  void drainOpens();
  void error(const std::string& message);
  void setActivity(const std::string& text);
  // Runs one command; false when the script must stop, with *status set.
  bool execute(const ScriptCommand& command, size_t index, int* status);
  void unloadAll();
  void restart(size_t next);
  // The host idles: delivers queued custom events and puts up delayed progress dialogs.
  void deliver();
  // Idles until the deadline, or until `done` (asked after each delivery) says so; false at the deadline.
  bool idleUntil(Clock::time_point deadline, const std::function<bool()>& done);
  bool printedSincePreviousLine(const std::string& text) const;

  const Options& m_options;
  MacLayout m_layout;
  std::string m_openLog;
  long long m_openOffset = 0;
  bool m_printing = false;
  std::string m_lastCommand;
  // Readable lines printed since the previous script line began (what waitfor searches), and the index
  // of the first one printed by the current line.
  std::vector<std::string> m_lines;
  size_t m_currentLineStart = 0;
  TranscriptEvent m_longest;
};

void HostRun::onEvent(const TranscriptEvent& event) {
  if (!m_printing) {
    // Addresses opened during the call that caused this event were opened before it.
    m_printing = true;
    drainOpens();
    m_printing = false;
  }
  // waitfor still finds a line it does not print.
  if (m_options.jsonl || m_options.verbose || !IsPlumbing(event))
    PrintEvent(event, m_options.jsonl);
  m_lines.push_back(FormatReadable(event));
  if (event.type == "handler" && (m_longest.type.empty() || event.number("us") > m_longest.number("us"))) {
    m_longest = event;
    m_longest.type = "longest_call";
  }
  if (event.type == "preference" && event.text("name") == "userLanguage")
    WriteFile(m_layout.preferences, "userLanguage=" + std::to_string(event.number("value")) + "\n");
}

void HostRun::drainOpens() {
  const auto records = ReadOpenRecords(m_openLog, &m_openOffset);
  if (records.empty())
    return;
  // The opener runs only while an add-in waits for it, so nothing appends while the log is emptied;
  // a host process started by restart then begins at an empty log.
  if (truncate(m_openLog.c_str(), 0) == 0)
    m_openOffset = 0;
  for (const auto& argv : records)
    RecordEvent(TranscriptEvent{"open", {}}.addList("argv", argv));
}

void HostRun::error(const std::string& message) {
  RecordEvent(TranscriptEvent{"error", {}}.addText("message", message));
}

void HostRun::setActivity(const std::string& text) {
  WriteFile(m_options.control + "/" + kActivityFile, text);
}

void HostRun::deliver() {
  if (QueuedCustomEvents() > 0)
    setActivity("delivering custom events, after " + m_lastCommand);
  DeliverCustomEvents();
  drainOpens();
}

bool HostRun::idleUntil(Clock::time_point deadline, const std::function<bool()>& done) {
  // Short naps, so that a progress dialog's delay ends on time even when no event comes.
  constexpr std::chrono::milliseconds kNap(50);
  for (;;) {
    deliver();
    if (done && done())
      return true;
    const auto now = Clock::now();
    if (now >= deadline)
      return false;
    WaitForCustomEvents(std::min(kNap, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                           std::chrono::milliseconds(1)));
  }
}

bool HostRun::printedSincePreviousLine(const std::string& text) const {
  return std::any_of(m_lines.begin(), m_lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

void HostRun::unloadAll() {
  const auto names = LoadedAddins();
  for (const auto& name : names) {
    setActivity("unload " + name + " (its stop)");
    std::string reason;
    if (!UnloadAddin(name, nullptr, &reason))
      error(reason);
  }
}

// A new host process continues the script: module state is gone, files and preferences stay.
void HostRun::restart(size_t next) {
  const auto names = LoadedAddins();
  unloadAll();
  drainOpens();
  // The boundary between the two host processes in the transcript.
  RecordEvent(TranscriptEvent{"restart", {}});
  std::fflush(stdout);
  std::vector<std::string> args = {"--host-process", "--control", m_options.control, "--root", m_layout.root};
  if (!m_options.build.empty())
    args.insert(args.end(), {"--build", m_options.build});
  if (m_options.offline)
    args.push_back("--offline");
  if (m_options.jsonl)
    args.push_back("--jsonl");
  if (m_options.verbose)
    args.push_back("--verbose");
  if (m_options.timings) {
    args.push_back("--timings");
    if (!m_longest.type.empty()) {
      WriteFile(m_options.control + "/" + kLongestFile, std::to_string(m_longest.number("us")) + " " +
                                                            m_longest.text("addin") + "\n" +
                                                            m_longest.text("what"));
    }
  }
  if (!m_options.script.empty())
    args.insert(args.end(), {"--script", m_options.script});
  args.insert(args.end(), {"--start", std::to_string(next)});
  for (const auto& name : names)
    args.insert(args.end(), {"--reload", name});
  args.push_back("--");
  args.insert(args.end(), m_options.addinFolders.begin(), m_options.addinFolders.end());

  std::vector<char*> argv = {const_cast<char*>(m_layout.hostExe.c_str())};
  for (auto& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(m_layout.hostExe.c_str(), argv.data());
  error("restart: cannot start a new host process " + m_layout.hostExe);
  std::exit(kExitCrashed);
}

bool HostRun::execute(const ScriptCommand& command, size_t index, int* status) {
  const auto& w = command.words;
  const std::string& name = w[0];
  std::string where = command.line > 0 ? "line " + std::to_string(command.line) + ": " : std::string();
  std::string activity = where;
  for (const auto& word : w)
    activity += word + " ";
  setActivity(activity);
  m_lastCommand = activity;
  // waitfor looks back to the start of the previous line.
  m_lines.erase(m_lines.begin(), m_lines.begin() + static_cast<std::ptrdiff_t>(m_currentLineStart));
  m_currentLineStart = m_lines.size();
  std::string reason;

  if (name == "load") {
    const std::string folder = m_layout.addinsRoot + "/" + w[1];
    if (!CheckAddinManifest(folder, &reason) || !LoadAddin(folder, nullptr, &reason)) {
      error(where + reason);
      std::fprintf(stderr, "hostsim: %s%s\n", where.c_str(), reason.c_str());
      *status = kExitLoadFailed;
      return false;
    }
  } else if (name == "unload") {
    if (!UnloadAddin(w[1], nullptr, &reason))
      error(where + reason);
  } else if (name == "online" || name == "offline") {
    ReportOnlineStatus(name == "offline");
  } else if (name == "click") {
    if (!ClickCommand(w[1], &reason))
      error(where + "click: " + reason);
  } else if (name == "answer") {
    std::vector<adsk::core::DialogResults> answers;
    for (size_t i = 1; i < w.size(); ++i) {
      answers.push_back(w[i] == "yes"      ? adsk::core::DialogYes
                        : w[i] == "no"     ? adsk::core::DialogNo
                        : w[i] == "cancel" ? adsk::core::DialogCancel
                                           : adsk::core::DialogOK);
    }
    QueueAnswers(answers);
  } else if (name == "html") {
    if (!SendHtml(w[1], w[2], w.size() > 3 ? w[3] : std::string(), &reason))
      error(where + "html: " + reason);
  } else if (name == "fail") {
    std::string text = w[2];
    for (size_t i = 3; i < w.size(); ++i)
      text += " " + w[i];
    FailCall(w[1], text);
  } else if (name == "remove") {
    const bool removed = w[1] == "toolbar" ? RemoveToolbar(w[2]) : RemovePanel(w[2]);
    if (!removed)
      error(where + "remove: no " + w[1] + " " + w[2]);
  } else if (name == "language") {
    const int language = std::atoi(w[1].c_str());
    SetLanguage(static_cast<adsk::core::UserLanguages>(language));
    WriteFile(m_layout.preferences, "userLanguage=" + std::to_string(language) + "\n");
  } else if (name == "entitlement") {
    SetEntitlementText(w[1]);
  } else if (name == "restart") {
    restart(index + 1);
  } else if (name == "state") {
    TranscriptEvent event{"state", {}};
    event.addText("description", DescribeState());
    event.addNumber("language", Language());
    event.addList("addins", LoadedAddins());
    event.addList("QATRight", ControlIds("QATRight"));
    event.addList("SolidScriptsAddinsPanel", ControlIds("SolidScriptsAddinsPanel"));
    RecordEvent(event);
  } else if (name == "wait") {
    double seconds = 0;
    ParseSeconds(w[1], &seconds);
    idleUntil(DeadlineAfter(seconds), nullptr);
  } else if (name == "waitfor") {
    double seconds = 60;
    if (w.size() > 2)
      ParseSeconds(w[2], &seconds);
    const std::string& text = w[1];
    if (!idleUntil(DeadlineAfter(seconds), [&] { return printedSincePreviousLine(text); })) {
      char shown[32];
      std::snprintf(shown, sizeof shown, "%g", seconds);
      reason = "waitfor: nothing containing \"" + text + "\" was printed within " + shown + " s";
      error(where + reason);
      std::fprintf(stderr, "hostsim: %s%s\n", where.c_str(), reason.c_str());
      *status = kExitWaitTimedOut;
      return false;
    }
  } else if (name == "cancel") {
    if (!PressCancel(&reason))
      error(where + "cancel: " + reason);
  } else if (name == "run") {
    std::vector<std::string> argv(w.begin() + 1, w.end());
    ProgramResult result = RunProgram(argv);
    if (!result.started) {
      error(where + "run: " + result.error);
    } else {
      RecordEvent(TranscriptEvent{"program", {}}
                      .addList("argv", argv)
                      .addNumber("exit", result.exitStatus)
                      .addText("stdout", result.out)
                      .addText("stderr", result.err));
    }
  }
  drainOpens();
  return true;
}

int HostRun::run() {
  WriteFile(m_options.control + "/" + kHostPidFile, std::to_string(getpid()) + "\n");
  SetTranscriptListener([this](const TranscriptEvent& event) { onEvent(event); });
  SetTimings(m_options.timings);
  if (m_options.timings)
    m_longest = ReadLongest(m_options.control + "/" + kLongestFile);
  SetOfflineState(m_options.offline);
  int language = m_options.language;
  if (language < 0)
    language = StoredLanguage(m_layout.preferences);
  else // a later start (restart) keeps what the user chose
    WriteFile(m_layout.preferences, "userLanguage=" + std::to_string(language) + "\n");
  if (language >= 0)
    SetLanguage(static_cast<adsk::core::UserLanguages>(language));

  std::vector<ScriptCommand> commands;
  if (m_options.script.empty()) {
    commands = DefaultPlay(m_options.addinFolders, m_options.offline);
  } else {
    std::string reason;
    if (!ParseScript(ReadFile(m_options.script), m_layout.home, &commands, &reason)) {
      error(m_options.script + ":" + reason);
      return kExitBadScript;
    }
  }

  int status = kExitOk;
  bool stopped = false;
  for (const auto& name : m_options.reload) {
    ScriptCommand load{0, {"load", name}};
    if (!execute(load, 0, &status)) {
      stopped = true;
      break;
    }
  }
  // Between lines the host is idle.
  for (size_t i = m_options.start; !stopped && i < commands.size(); ++i) {
    deliver();
    stopped = !execute(commands[i], i, &status);
  }
  if (!stopped)
    deliver();
  setActivity("unload at the end of the script");
  unloadAll();
  drainOpens();
  if (m_options.timings && !m_longest.type.empty())
    RecordEvent(m_longest);
  SetTranscriptListener(nullptr);
  WriteFile(m_options.control + "/" + kFinishedFile, std::to_string(status));
  std::fflush(stdout);
  return status;
}

} // namespace

void PrintEvent(const TranscriptEvent& event, bool jsonl) {
  const std::string line = (jsonl ? FormatJson(event) : FormatReadable(event)) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

int RunHostProcess(const Options& options) {
  const std::string build = options.build.empty() ? kDefaultBuild : options.build;
  HostRun run(options, LayoutFor(options.root, build));
  return run.run();
}

} // namespace hostsim
