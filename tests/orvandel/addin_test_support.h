// What the language add-in's tests and its crash trials share: the host bundle's layout, a fresh host
// for a run, readings of what a run left behind, and work run in a child process.
#pragma once

#include "host_support.h"
#include "installer.h"
#include "worker_bridge.h"

#include <hostsim/control.h>
#include <install_record.h>
#include <platform.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace addintest {

// Where the host's builds are deployed, below the user's home.
inline const std::string kProduction = "/Library/Application Support/Autodesk/webdeploy/production/";
// Folders of a host bundle, relative to it; the older builds' bundles share the layout.
inline const std::string kStringTable = "Contents/Libraries/Neutron/StringTable/";
inline const std::string kTranslations = "Contents/Libraries/Applications/CAM360/Data/Translations/";
inline const std::string kHelp = "Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help/";

// A fresh in-memory host with the add-in's handles on it, as run would leave them.
inline void AttachFreshHost() {
  hostsim::ResetHost();
  orvandel::app = adsk::core::Application::get();
  orvandel::ui = orvandel::app->userInterface();
}
// One installation run through the add-in's entry, on this thread (the host's main thread), with
// hooks as a caller gives them.
inline void RunInstallation(bool force, const InstallPlaces& places,
                            const InstallHooks& hooks = InstallHooks()) {
  workerbridge::RunHere(
      [&](workerbridge::JobContext& context) { InstallCzechFiles(force, places, context, hooks); });
}
// Drops the add-in's handles, then the host's state.
inline void DetachHost() {
  orvandel::ui = nullptr;
  orvandel::app = nullptr;
  hostsim::ResetHost();
}

// A file's install-record entry as the file stands now; fails the test when it cannot be examined.
inline installrecord::RecordedFile AsItStands(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return installrecord::RecordedFile{static_cast<std::uint64_t>(status.st_size),
                                     ModificationTime(status).tv_sec, ModificationTime(status).tv_nsec};
}

// The texts of the message boxes in the transcript; the add-in shows each with an empty title, OK
// and no icon, a failed installation's with the warning icon, which this checks.
inline std::vector<std::string> MessageBoxes() {
  std::vector<std::string> texts;
  for (const auto& event : hostsim::Transcript()) {
    if (event.type == "messagebox") {
      EXPECT_EQ(event.text("title"), "");
      EXPECT_EQ(event.number("buttons"), 0);
      const bool failed = event.text("text").rfind("Instalace češtiny se nezdařila.", 0) == 0;
      EXPECT_EQ(event.number("icon"), failed ? 3 : 0) << event.text("text");
      texts.push_back(event.text("text"));
    }
  }
  return texts;
}

// The temporary files of copies below root (the copy's names end in ".qxtmp").
inline std::vector<std::string> TemporaryFiles(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".qxtmp") == 0)
      found.push_back(entry.path().string());
  }
  return found;
}

// Starts work in a forked child whose exit status is work's result; the child runs as nobody when
// unprivileged, since this process may be root, whom permissions and limits do not stop.
inline pid_t ForkChild(const std::function<int()>& work, bool unprivileged = false) {
  const pid_t child = fork();
  if (child == 0) {
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(99);
    _exit(work());
  }
  EXPECT_GT(child, 0) << "no child process";
  return child;
}
// Waits for the child: its exit status; 98 when a signal ended it, 97 when there is no such child.
inline int ExitStatus(pid_t child) {
  int status = 0;
  if (child <= 0 || waitpid(child, &status, 0) != child)
    return 97;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}
inline int ExitStatusInChild(const std::function<int()>& work, bool unprivileged = false) {
  return ExitStatus(ForkChild(work, unprivileged));
}

} // namespace addintest
