// The new-version notice: a button in the quick-access toolbar that asks the user and, on Yes,
// downloads the newest installer package into the Downloads folder.
#pragma once

#include <Core/CoreAll.h>

#include <string>

// The button's command definition and control id, and the toolbar that holds it (stop removes both).
constexpr const char* kNewVersionCommandId = "newVerAddIn";
constexpr const char* kNewVersionToolbarId = "QATRight";

// Puts the "newVerAddIn" button before the user-name control of "QATRight". Does nothing without that
// toolbar. The definition is created before the control is looked for, so while a definition of that
// id exists the host refuses it and checkReturn shows the host's error; a control already in the
// toolbar is not added twice.
void NewVersionUI();

// "K dispozici je nová verze ..." with the offered and the installed version, three lines.
std::string NewVersionQuestion(const std::string& offered, const std::string& installed);

// Asks the server for the package address and downloads the package to
// ~/Downloads/Orvandel-installer.pkg on a worker (package_download.h), with the host's progress
// dialog, then tells the user the outcome in one message. The previous package stays byte for byte unless a
// complete installer package (signed by the build's team, when one is set) replaces it; the new one carries
// the quarantine attribute.
void downloadLatestVersion();

namespace orvandel {

class QuickCmdCreatedEventHandler final : public adsk::core::CommandCreatedEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override;
};

class QuickCmdExecuteEventHandler final : public adsk::core::CommandEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandEventArgs>& eventArgs) override;
};

extern QuickCmdCreatedEventHandler _quickCmdCreated;
extern QuickCmdExecuteEventHandler _quickCmdExecute;

} // namespace orvandel
