// hostsim end to end with the SimProbe test add-in: transcripts, script commands, exit statuses.
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct SimRun {
  int exit = -1;
  std::vector<std::string> lines;
  std::string out;
  std::string err;

  // The first word of each line: the event type in readable output.
  std::vector<std::string> types() const {
    std::vector<std::string> result;
    for (const auto& line : lines)
      result.push_back(line.substr(0, line.find(' ')));
    return result;
  }
  bool has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The first line at or after `from` that starts with prefix.
  size_t indexOf(const std::string& prefix, size_t from = 0) const {
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0)
        return i;
    }
    return std::string::npos;
  }
  // The lines that start with prefix.
  std::vector<std::string> starting(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const auto& line : lines) {
      if (line.rfind(prefix, 0) == 0)
        result.push_back(line);
    }
    return result;
  }
};

SimRun ToSimRun(const hostsim::ProgramResult& result) {
  SimRun run;
  run.exit = result.exitStatus;
  run.out = result.out;
  run.err = result.err;
  std::istringstream in(result.out);
  for (std::string line; std::getline(in, line);)
    run.lines.push_back(line);
  return run;
}

constexpr const char* kProbeLog = "log [Info(2)/File(0)] PROBE: ";

// The number before " ms" at the end of a handler line.
long long Milliseconds(const std::string& line) {
  const size_t end = line.rfind(" ms");
  const size_t start = line.rfind(' ', end - 1);
  return std::atoll(line.substr(start + 1, end - start - 1).c_str());
}

std::ostream& operator<<(std::ostream& out, const SimRun& run) {
  return out << "exit " << run.exit << "\n--- stdout\n" << run.out << "--- stderr\n" << run.err;
}

// hostsim run with args as they are.
SimRun Hostsim(std::vector<std::string> args) {
  args.insert(args.begin(), HOSTSIM_EXE);
  return ToSimRun(hostsim::RunProgram(args));
}

class HostsimTest : public ::testing::Test {
protected:
  // hostsim on the test's root with args and, unless it is empty, script; SimProbe comes last.
  SimRun hostsim(std::vector<std::string> args, const std::string& script = std::string()) {
    std::vector<std::string> argv = {"--root", m_root};
    if (!script.empty())
      argv.insert(argv.end(), {"--script", scriptFile(script)});
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(PROBE_DIR);
    return Hostsim(argv);
  }

  // The file script.txt of the test, holding script.
  std::string scriptFile(const std::string& script) const {
    WriteFile(m_dir + "/script.txt", script);
    return m_dir + "/script.txt";
  }

  std::string addinFolder() const {
    return m_root +
           "/Users/user/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/SimProbe";
  }

  const TempFolder m_folder{"hostsim_test_" + CurrentTestName() + "_"};
  const std::string m_dir = m_folder.path();
  const std::string m_root = m_dir + "/mac";
};

TEST_F(HostsimTest, DefaultPlayLoadsReportsOnlineAndUnloadsInOrder) {
  const SimRun run = hostsim({});
  ASSERT_EQ(run.exit, 0) << run;
  EXPECT_EQ(run.types(), (std::vector<std::string>{"log", "definition_added", "control_added",
                                                   "control_promoted", "control_added", "addin",
                                                   "online_status", "log", "palette_added", "palette_docking",
                                                   "palette_visible", "control_removed", "control_removed",
                                                   "definition_removed", "palette_removed", "log", "addin"}))
      << run;
  // The add-in found its own folder from the host executable's folder: the host ran from the bundle.
  EXPECT_TRUE(run.has("log [Info(2)/File(0)] PROBE: run, start 1, language 3")) << run;
  EXPECT_TRUE(run.has(R"(definition_added probeButton name="Zkušební tlačítko" tooltip="Nápověda" )"
                      R"(resources="./resources")"))
      << run;
  EXPECT_TRUE(run.has(R"(control_added QATRight/probeButton position="HelpGroupCommand" before=false )"
                      "promoted=false"));
  EXPECT_TRUE(run.has("palette_docking probePalette state=Right(4)"));
  EXPECT_TRUE(run.has("addin SimProbe stop -> true"));

  const std::string production =
      m_root + "/Users/user/Library/Application Support/Autodesk/webdeploy/production";
  const std::string help = production +
                           "/Autodesk Fusion.app/Contents/Libraries/Applications/CAM360/NeuCAM/UI/"
                           "NeuCAMUI/Resources/Help/";
  for (const std::string& path :
       {addinFolder() + "/SimProbe.so", addinFolder() + "/resources/16x16.png",
        addinFolder() + "/SimProbe_starts.txt", help + "en-html.html", help + "en-html", help + "images",
        m_root + "/Users/user/Downloads", m_root + "/Library"}) {
    EXPECT_TRUE(fs::exists(path)) << path;
  }
  bool hostInBuildFolder = false;
  for (const auto& entry : fs::directory_iterator(production)) {
    hostInBuildFolder = hostInBuildFolder || fs::exists(entry.path() / "Autodesk Fusion.app/Contents/MacOS");
  }
  EXPECT_TRUE(hostInBuildFolder);

  // The same root again: files written by the add-in stay, the library is not copied over them.
  const SimRun again = hostsim({"--offline"});
  ASSERT_EQ(again.exit, 0) << again;
  EXPECT_TRUE(again.has("log [Info(2)/File(0)] PROBE: run, start 2, language 3")) << again;
  EXPECT_TRUE(again.has("online_status offline")) << again;
  EXPECT_EQ(again.indexOf("palette_added"), std::string::npos) << again;
}

TEST_F(HostsimTest, JsonlCarriesTheDocumentedKeys) {
  const SimRun run = hostsim({"--jsonl", "--timings"}, R"(load SimProbe
online
answer yes
click probeButton
html probePalette "https://example.invalid/x?a=1&b=2" open
run /bin/sh -c "printf out; printf err >&2; exit 5"
run /bin/sh -c "printf 'a\377b'"
html probePalette 1 fire
html probePalette "10 1 0" progress
waitfor "progress done" 30
language 2
unload SimProbe
click probeButton
)");
  ASSERT_EQ(run.exit, 0) << run;
  const std::vector<std::pair<std::string, std::vector<std::string>>> required = {
      {"addin", {"name", "entry", "result"}},
      {"log", {"message", "level", "type"}},
      {"messagebox", {"text", "title", "buttons", "icon", "answer"}},
      {"definition_added", {"id", "name", "tooltip", "resources"}},
      {"definition_removed", {"id"}},
      {"control_added", {"parent", "id", "position", "before", "promoted"}},
      {"control_removed", {"parent", "id"}},
      {"palette_added", {"id", "name", "url", "visible", "close_button", "resizable", "width", "height"}},
      {"palette_visible", {"id"}},
      {"palette_docking", {"id", "state"}},
      {"palette_removed", {"id"}},
      {"open", {"argv"}},
      {"program", {"argv", "exit", "stdout", "stderr"}},
      {"custom_event", {"id", "info"}},
      {"progress_shown", {"title", "message", "minimum", "maximum"}},
      {"progress", {"value", "message"}},
      {"progress_hidden", {"cancelled"}},
      {"handler", {"addin", "what", "ms"}},
      {"longest_call", {"addin", "what", "ms"}},
      {"error", {"message"}},
  };
  for (const auto& [event, keys] : required) {
    SCOPED_TRACE(event);
    const std::string start = "{\"event\":\"" + event + "\"";
    const size_t index = run.indexOf(start);
    ASSERT_NE(index, std::string::npos) << run;
    for (const auto& key : keys)
      EXPECT_NE(run.lines[index].find("\"" + key + "\":"), std::string::npos)
          << key << " in " << run.lines[index];
  }
  EXPECT_TRUE(run.has(R"({"event":"open","argv":["https://example.invalid/x?a=1&b=2"]})")) << run;
  EXPECT_TRUE(run.has(R"({"event":"program","argv":["/bin/sh","-c","printf out; printf err >&2; exit 5"],)"
                      R"("exit":5,"stdout":"out","stderr":"err"})"))
      << run;
  // A byte that is not UTF-8 is written as the escape of its value; the line stays valid UTF-8.
  EXPECT_TRUE(run.has(R"({"event":"program","argv":["/bin/sh","-c","printf 'a\\377b'"],"exit":0,)"
                      R"("stdout":"a\u00ffb","stderr":""})"))
      << run;
  EXPECT_TRUE(
      run.has(R"({"event":"messagebox","text":"Přejete si pokračovat?","title":"Zkouška","buttons":3,)"
              R"("icon":1,"answer":2})"))
      << run;
  // The opened address comes between the page message's log line and the next command's events.
  EXPECT_LT(run.indexOf(R"({"event":"log","message":"PROBE: html)"), run.indexOf(R"({"event":"open")"));
  EXPECT_LT(run.indexOf(R"({"event":"open")"), run.indexOf(R"({"event":"program")"));
}

TEST_F(HostsimTest, FailRemoveAndAnswerShapeWhatTheAddinMeets) {
  struct Case {
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"fail addButtonDefinition 'no more buttons'\nload SimProbe\n",
       R"(messagebox "no more buttons" title="" buttons=OK(0) icon=None(0) -> OK(0))"},
      {"fail Toolbars.itemById boom\nload SimProbe\n",
       R"(messagebox "boom" title="" buttons=OK(0) icon=None(0))"},
      {"remove panel SolidScriptsAddinsPanel\nload SimProbe\n",
       R"(messagebox "No toolbar panel with the id)"},
      {"remove toolbar QATRight\nload SimProbe\n", R"(messagebox "No toolbar with the id \"QATRight\".")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const SimRun run = hostsim({}, c.script);
    ASSERT_EQ(run.exit, 0) << run;
    EXPECT_NE(run.indexOf(c.expected), std::string::npos) << run;
    EXPECT_TRUE(run.has("addin SimProbe run -> false")) << run;
  }

  const SimRun answers = hostsim({}, "load SimProbe\nanswer yes no\nclick probeButton\nclick probeButton\n"
                                     "click probeButton\nanswer cancel\nclick probeButton\n");
  ASSERT_EQ(answers.exit, 0) << answers;
  std::vector<std::string> given;
  for (const auto& line : answers.starting("messagebox"))
    given.push_back(line.substr(line.rfind(' ') + 1));
  // Queued answers in order; then the default No of a Yes/No box; a queued answer wins over it.
  EXPECT_EQ(given, (std::vector<std::string>{"Yes(2)", "No(3)", "No(3)", "Cancel(1)"})) << answers;
}

TEST_F(HostsimTest, RestartResetsModuleStateButFilesAndPreferencesStay) {
  const SimRun run = hostsim({}, "load SimProbe\nclick probeButton\nclick probeButton\nlanguage 2\nrestart\n"
                                 "click probeButton\nstate\n");
  ASSERT_EQ(run.exit, 0) << run;
  EXPECT_TRUE(run.has("log [Info(2)/File(0)] PROBE: clicks=2 answer=3")) << run;
  EXPECT_TRUE(run.has("log [Info(2)/File(0)] PROBE: stop after 2 clicks")) << run;
  const size_t restarted = run.indexOf("log [Info(2)/File(0)] PROBE: run, start 2, language 2");
  ASSERT_NE(restarted, std::string::npos) << run;
  // One line marks the boundary: after the old process's stop, before the new process's run.
  const size_t boundary = run.indexOf("restart");
  ASSERT_NE(boundary, std::string::npos) << run;
  EXPECT_EQ(run.lines[boundary], "restart: a new host process");
  EXPECT_LT(run.indexOf("addin SimProbe stop"), boundary) << run;
  EXPECT_LT(boundary, restarted) << run;
  EXPECT_EQ(run.indexOf("restart", boundary + 1), std::string::npos) << run;
  // The click counter lives in the module: it starts again in the new host process.
  EXPECT_NE(run.indexOf("log [Info(2)/File(0)] PROBE: clicks=1 answer=3", restarted), std::string::npos)
      << run;
  EXPECT_NE(run.indexOf("state: online, language Czech(2)"), std::string::npos) << run;
}

TEST_F(HostsimTest, FailuresEndWithAClearMessageAndNonZeroStatus) {
  struct Case {
    const char* script;
    int exit;
    const char* inErr;
    const char* absent; // no stdout line starts with it; nullptr: not checked
    std::vector<std::string> args = {};
  };
  const Case cases[] = {
      // Nothing runs before the script is checked.
      {"load SimProbe\nclik probeButton\n", 2, "script.txt:2: unknown command \"clik\"", "addin"},
      {"load NoSuchAddin\n", 3, "NoSuchAddin cannot be loaded", nullptr},
      // The crash is reported with the script line that caused it.
      {"load SimProbe\nonline\nhtml probePalette x crash\nstate\n", 4, "html probePalette x crash", "state:"},
      {"", 1, "--bogus", nullptr, {"--bogus"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exit);
    const SimRun run = hostsim(c.args, c.script);
    EXPECT_EQ(run.exit, c.exit) << run;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run;
    if (c.absent) {
      EXPECT_EQ(run.indexOf(c.absent), std::string::npos) << run;
    }
  }
  {
    // Commands that find nothing to act on are reported and the script goes on.
    const SimRun run =
        hostsim({}, "click nothing\nhtml nopalette x\nunload Nobody\nremove toolbar None\nstate\n");
    EXPECT_EQ(run.exit, 0) << run;
    const auto types = run.types();
    ASSERT_GE(types.size(), 5u) << run;
    EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + 5),
              (std::vector<std::string>{"error", "error", "error", "error", "state:"}))
        << run;
  }
}

TEST_F(HostsimTest, CustomEventsArriveInOrderOnTheMainThreadOnlyBetweenLines) {
  const SimRun run = hostsim({"--verbose"}, "load SimProbe\nonline\nhtml probePalette 3 fire\nstate\n"
                                            "html probePalette 0 unregister\nhtml probePalette 2 fire\n");
  ASSERT_EQ(run.exit, 0) << run;
  // The worker fired all three while the page message's handler waited for it; they came after the
  // handler returned, each before its handler's line, in order, and before the next script line.
  const size_t fired = run.indexOf(std::string(kProbeLog) + "fired 3 of 3");
  ASSERT_NE(fired, std::string::npos) << run;
  size_t previous = fired;
  for (const char* n : {"1", "2", "3"}) {
    SCOPED_TRACE(n);
    const size_t delivered = run.indexOf(std::string("custom_event id=\"probeTick\" info=\"") + n + "\"");
    ASSERT_NE(delivered, std::string::npos) << run;
    EXPECT_GT(delivered, previous) << run;
    EXPECT_EQ(run.lines[delivered + 1], std::string(kProbeLog) + "tick " + n + " on the main thread") << run;
    previous = delivered;
  }
  EXPECT_GT(run.indexOf("state:"), previous) << run;
  // Once unregistered, the id no longer fires.
  EXPECT_TRUE(run.has(std::string(kProbeLog) + "unregistered: true")) << run;
  EXPECT_TRUE(run.has(std::string(kProbeLog) + "fired 0 of 2")) << run;
  EXPECT_EQ(run.starting("custom_event").size(), 3u) << run;
  EXPECT_EQ(run.indexOf("handler"), std::string::npos) << "no timings without --timings\n" << run;
}

TEST_F(HostsimTest, UnloadingDropsTheAddinsQueuedEvents) {
  // stop joins a worker that fires all the time, and fires three more itself while joining another.
  const SimRun run =
      hostsim({"--verbose"}, "load SimProbe\nonline\nhtml probePalette '100000 1' fire-async\nwait 0.1\n"
                             "unload SimProbe\nwait 0.2\nload SimProbe\nwait 0.2\n");
  ASSERT_EQ(run.exit, 0) << run;
  const size_t stopped = run.indexOf("addin SimProbe stop");
  ASSERT_NE(stopped, std::string::npos) << run;
  EXPECT_NE(run.indexOf("custom_event"), std::string::npos) << "the worker's events came while it ran\n"
                                                            << run;
  // Nothing fired before the unload reaches the add-in loaded again under the same event id.
  EXPECT_EQ(run.indexOf("custom_event", stopped), std::string::npos) << run;
}

TEST_F(HostsimTest, WaitforLooksBackToThePreviousLineAndEndsWithStatus5WhenNothingComes) {
  const SimRun run = hostsim({}, R"(load SimProbe
online
html probePalette "5 20" fire-async
waitfor "tick 5 on the main" 30
html probePalette 2 fire
waitfor "tick 2"
state
waitfor "tick 2" 0.3
state
)");
  EXPECT_EQ(run.exit, 5) << run;
  const size_t fifth = run.indexOf(std::string(kProbeLog) + "tick 5");
  ASSERT_NE(fifth, std::string::npos) << run;
  EXPECT_LT(fifth, run.indexOf("state:")) << run;
  // "tick 2" was printed twice, both before the line before the last waitfor.
  EXPECT_NE(run.indexOf(R"(error line 8: waitfor: nothing containing "tick 2" was printed within 0.3 s)"),
            std::string::npos)
      << run;
  EXPECT_NE(run.err.find("line 8: waitfor"), std::string::npos) << run;
  EXPECT_EQ(run.starting("state:").size(), 1u) << "the script ends at the timeout\n" << run;
  EXPECT_NE(run.indexOf("addin SimProbe stop -> true"), std::string::npos) << run;
  // The ticks came as custom events, which the readable lines show only with --verbose.
  EXPECT_EQ(run.indexOf("custom_event"), std::string::npos) << run;
}

TEST_F(HostsimTest, CancelEndsTheDownloadDialogAndProgressPrintsOncePerTenth) {
  const auto started = std::chrono::steady_clock::now();
  const SimRun run = hostsim({}, R"(load SimProbe
online
cancel
html probePalette "100000 2 0" progress
waitfor progress_shown 30
cancel
waitfor "cancelled at" 30
wait 0.1
html probePalette "100 1 0" progress
waitfor "progress done" 30
)");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(run.exit, 0) << run;
  EXPECT_TRUE(run.has("error line 3: cancel: no progress dialog is showing")) << run;
  EXPECT_TRUE(run.has(R"x(progress_shown title="Zkouška" message="Hotovo 0 % (0 z 100000)" minimum=0 )x"
                      R"(maximum=100000 value=0 cancel_button=true cancel_text="Zrušit")"))
      << run;
  const size_t cancelled = run.indexOf("progress_hidden cancelled=true");
  ASSERT_NE(cancelled, std::string::npos) << run;
  const size_t told = run.indexOf(std::string(kProbeLog) + "cancelled at ");
  ASSERT_NE(told, std::string::npos) << run;
  EXPECT_LT(cancelled, told);
  // The worker stopped: no progress until the next dialog.
  const size_t second = run.indexOf("progress_shown", told);
  ASSERT_NE(second, std::string::npos) << run;
  EXPECT_GT(run.indexOf("progress ", told), second) << run;

  std::vector<std::string> progress;
  for (size_t i = second + 1; i < run.lines.size() && run.lines[i].rfind("progress_hidden", 0) != 0; ++i) {
    if (run.lines[i].rfind("progress ", 0) == 0)
      progress.push_back(run.lines[i]);
  }
  // One line per tenth of the range; a slow machine may add one per second.
  ASSERT_FALSE(progress.empty()) << run;
  EXPECT_GE(progress.size(), 10u) << run;
  EXPECT_LE(progress.size(), 10u + static_cast<size_t>(std::ceil(seconds))) << run;
  EXPECT_EQ(progress.back(), R"x(progress value=100 message="Hotovo 100 % (100 z 100)")x") << run;
  EXPECT_TRUE(run.has("progress_hidden cancelled=false")) << run;
}

TEST_F(HostsimTest, TimingsFollowEveryCallIntoTheAddinAndNameTheLongestAcrossRestarts) {
  const SimRun run = hostsim({"--timings"}, "load SimProbe\nonline\nhtml probePalette 300 slow\nrestart\n"
                                            "online\nhtml probePalette 1 fire\nclick probeButton\n");
  ASSERT_EQ(run.exit, 0) << run;
  struct Expected {
    const char* after; // the line the handler line follows
    const char* handler;
  };
  const Expected calls[] = {
      {"addin SimProbe run -> true", "handler SimProbe run "},
      {"palette_visible probePalette visible=true", "handler SimProbe notify onlineStatusChanged "},
      {"log [Info(2)/File(0)] PROBE: html action=slow", "handler SimProbe notify incomingFromHTML "},
      {"addin SimProbe stop -> true", "handler SimProbe stop "},
      {"log [Info(2)/File(0)] PROBE: tick 1", "handler SimProbe notify customEvent probeTick "},
      {"click probeButton", "handler SimProbe notify commandCreated "},
      {"log [Info(2)/File(0)] PROBE: clicks=1", "handler SimProbe notify execute "},
  };
  for (const Expected& call : calls) {
    SCOPED_TRACE(call.handler);
    const size_t after = run.indexOf(call.after);
    ASSERT_NE(after, std::string::npos) << run;
    ASSERT_LT(after + 1, run.lines.size());
    EXPECT_EQ(run.lines[after + 1].rfind(call.handler, 0), 0u) << run;
  }
  const size_t slow = run.indexOf("handler SimProbe notify incomingFromHTML ");
  EXPECT_GE(Milliseconds(run.lines[slow]), 300) << run;
  // The longest call happened in the first host process; the last line names it.
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back().rfind("longest_call into an add-in: SimProbe notify incomingFromHTML ", 0), 0u)
      << run;
  EXPECT_EQ(Milliseconds(run.lines.back()), Milliseconds(run.lines[slow])) << run;
  EXPECT_EQ(run.starting("longest_call").size(), 1u) << run;
}

TEST_F(HostsimTest, CommandLineTakesOptionEqualsValueAndAnswersVersion) {
  const SimRun version = Hostsim({"--version"});
  EXPECT_EQ(version.exit, 0) << version;
  ASSERT_EQ(version.lines.size(), 1u) << version;
  EXPECT_EQ(version.lines[0].rfind("hostsim ", 0), 0u) << version;
  EXPECT_NE(std::string("0123456789").find(version.lines[0].substr(8, 1)), std::string::npos) << version;

  const SimRun run = Hostsim({"--root=" + m_root, "--script=" + scriptFile("load SimProbe\n"), "--language=2",
                              "--jsonl", PROBE_DIR});
  ASSERT_EQ(run.exit, 0) << run;
  EXPECT_NE(run.indexOf(R"({"event":"log","message":"PROBE: run, start 1, language 2")"), std::string::npos)
      << run;

  struct Bad {
    const char* option;
    const char* message;
  };
  const Bad bad[] = {
      {"--keep=yes", "option --keep takes no value"},
      {"--language=", "--language wants a number"},
      {"--timings=0", "option --timings takes no value"},
      {"--colour=red", "unknown option --colour"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.option);
    const SimRun failed = Hostsim({"--root", m_root, b.option, PROBE_DIR});
    EXPECT_EQ(failed.exit, 1) << failed;
    EXPECT_NE(failed.err.find(b.message), std::string::npos) << failed;
  }
}

TEST_F(HostsimTest, ControlFoldersOfKilledHostsimsAreSweptAtTheNextStart) {
  const pid_t dead = ReapedProcessId();
  ASSERT_GT(dead, 0);
  const std::string tmp = m_dir + "/tmp";
  const std::string deadName = "hostsim-control-" + std::to_string(dead);
  const std::string live = std::to_string(getpid());
  WriteFile(tmp + "/" + deadName + "-aaaaaa/activity", "line 3: wait 100");
  // Its hostsim is gone, but its host process (here: this test) runs on.
  WriteFile(tmp + "/" + deadName + "-bbbbbb/host.pid", live + "\n");
  WriteFile(tmp + "/hostsim-control-" + live + "-cccccc/activity", "");
  WriteFile(tmp + "/hostsim-control-XyZ123/activity", "");
  WriteFile(tmp + "/other-" + std::to_string(dead) + "/file", "");

  // env hands hostsim the TMPDIR and becomes it, leaving this test's environment as it is.
  const SimRun run =
      ToSimRun(hostsim::RunProgram({"env", "TMPDIR=" + tmp, HOSTSIM_EXE, "--root", m_root, PROBE_DIR}));
  ASSERT_EQ(run.exit, 0) << run;
  std::vector<std::string> expected = {deadName + "-bbbbbb", "hostsim-control-" + live + "-cccccc",
                                       "hostsim-control-XyZ123", "other-" + std::to_string(dead)};
  std::sort(expected.begin(), expected.end());
  // Only the folder of the killed hostsim went; the run's own control folder went at its end.
  EXPECT_EQ(Entries(tmp), expected);
}

TEST_F(HostsimTest, HostsimsStartedTogetherOnOneRootAllRun) {
  // The first start lays out the Mac; the later ones replace the host executable and the opener link.
  ASSERT_EQ(hostsim({}).exit, 0);
  constexpr int kTogether = 6;
  std::vector<SimRun> runs(kTogether);
  std::vector<std::thread> threads;
  for (int i = 0; i < kTogether; ++i) {
    threads.emplace_back([&, i] { runs[static_cast<size_t>(i)] = Hostsim({"--root", m_root, PROBE_DIR}); });
  }
  for (auto& thread : threads)
    thread.join();
  for (const SimRun& run : runs)
    EXPECT_EQ(run.exit, 0) << run;
  const fs::path opener = m_root + "/usr/bin/open";
  EXPECT_TRUE(fs::is_symlink(opener));
  EXPECT_TRUE(fs::exists(opener)) << "the link leads to the host executable";
  EXPECT_EQ(Entries(m_root + "/usr/bin"), std::vector<std::string>{"open"}) << "no temporary is left";
}

} // namespace
