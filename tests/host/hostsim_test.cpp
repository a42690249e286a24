// hostsim end to end with the SimProbe test add-in: transcripts, script commands, exit statuses.
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

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
    for (const auto& l : lines) {
      if (l == line)
        return true;
    }
    return false;
  }
  // The first line at or after `from` that starts with prefix.
  size_t indexOf(const std::string& prefix, size_t from = 0) const {
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0)
        return i;
    }
    return std::string::npos;
  }
};

std::ostream& operator<<(std::ostream& out, const SimRun& run) {
  return out << "exit " << run.exit << "\n--- stdout\n" << run.out << "--- stderr\n" << run.err;
}

class HostsimTest : public ::testing::Test {
protected:
  SimRun hostsim(std::vector<std::string> args, const std::string& script = std::string()) {
    std::vector<std::string> argv = {HOSTSIM_EXE, "--root", m_root};
    if (!script.empty()) {
      const std::string path = m_dir + "/script.txt";
      WriteFile(path, script);
      argv.insert(argv.end(), {"--script", path});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(PROBE_DIR);
    const hostsim::ProgramResult result = hostsim::RunProgram(argv);
    SimRun run;
    run.exit = result.exitStatus;
    run.out = result.out;
    run.err = result.err;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
      run.lines.push_back(line);
    return run;
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
  const SimRun run = hostsim({"--jsonl"}, R"(load SimProbe
online
answer yes
click probeButton
html probePalette "https://example.invalid/x?a=1&b=2" open
run /bin/sh -c "printf out; printf err >&2; exit 5"
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
  for (const auto& line : answers.lines) {
    if (line.rfind("messagebox", 0) == 0)
      given.push_back(line.substr(line.rfind(' ') + 1));
  }
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
  {
    const SimRun run = hostsim({}, "load SimProbe\nclik probeButton\n");
    EXPECT_EQ(run.exit, 2) << run;
    EXPECT_NE(run.err.find("script.txt:2: unknown command \"clik\""), std::string::npos) << run;
    EXPECT_EQ(run.indexOf("addin"), std::string::npos) << "nothing runs before the script is checked\n"
                                                       << run;
  }
  {
    const SimRun run = hostsim({}, "load NoSuchAddin\n");
    EXPECT_EQ(run.exit, 3) << run;
    EXPECT_NE(run.err.find("NoSuchAddin cannot be loaded"), std::string::npos) << run;
  }
  {
    const SimRun run = hostsim({}, "load SimProbe\nonline\nhtml probePalette x crash\nstate\n");
    EXPECT_EQ(run.exit, 4) << run;
    EXPECT_NE(run.err.find("crash"), std::string::npos) << run;
    EXPECT_NE(run.err.find("html probePalette x crash"), std::string::npos) << run;
    EXPECT_EQ(run.indexOf("state:"), std::string::npos) << run;
  }
  {
    const SimRun run = hostsim({"--bogus"});
    EXPECT_EQ(run.exit, 1) << run;
    EXPECT_NE(run.err.find("--bogus"), std::string::npos) << run;
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

} // namespace
