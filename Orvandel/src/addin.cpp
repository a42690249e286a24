#include "addin.h"

#include "host_support.h"
#include "installation_task.h"
#include "worker_bridge.h"

#include "update/new_version.h"
#include "update/package_download.h"
#include "update/update_client.h"
#include "update/version_check.h"

#include <utilities.h>

#include <chrono>
#include <string>
#include <utility>

using namespace adsk::core;

namespace orvandel {
namespace {

constexpr const char* kButtonId = "idCzButton";
constexpr const char* kButtonName = "Aktivace CZ";
constexpr const char* kButtonResources = "resources/Czech";
constexpr const char* kPanelId = "SolidScriptsAddinsPanel";
constexpr const wchar_t* kInstallationRunning =
    L"Instalace češtiny právě probíhá. Počkejte prosím, až skončí.";
// How long stop waits for the bridge's workers together.
constexpr auto kStopLimit = std::chrono::milliseconds(2000);

// The version check starts once the installation of the first online report has ended, so that its
// lines follow the installation's. When "Aktivace CZ" runs one at that report, that one's end starts it:
// the report leaves it this note.
bool versionCheckAfterActivation = false;

void ActivationEnded() {
  if (std::exchange(versionCheckAfterActivation, false))
    CheckNewVersion();
}

bool Run() {
  app = Application::get();
  if (!app)
    return false;
  LogLine("Run addIn and start of logging");

  ui = app->userInterface();
  if (!ui)
    return false;

  const Ptr<ApplicationEvent> onlineStatusChanged = app->onlineStatusChanged();
  if (!onlineStatusChanged)
    return false;
  onlineStatusChanged->add(&onlineStatusChangedHandler_);

  const Ptr<CommandDefinitions> definitions = ui->commandDefinitions();
  const Ptr<CommandDefinition> definition =
      definitions ? definitions->addButtonDefinition(kButtonId, kButtonName, kButtonName, kButtonResources)
                  : nullptr;
  if (!checkReturn(definition))
    return false;

  const Ptr<ToolbarPanelList> panels = ui->allToolbarPanels();
  const Ptr<ToolbarPanel> panel = panels ? panels->itemById(kPanelId) : nullptr;
  if (!checkReturn(panel))
    return false;

  const Ptr<ToolbarControls> controls = panel->controls();
  const Ptr<CommandControl> control =
      controls ? controls->addCommand(definition, "", /*isBefore=*/true) : nullptr;
  if (!checkReturn(control))
    return false;
  control->isPromotedByDefault(true);

  const Ptr<CommandCreatedEvent> commandCreated = definition->commandCreated();
  if (!checkReturn(commandCreated))
    return false;
  return commandCreated->add(&_activationCmdCreated);
}

bool Stop() {
  // After a run that ended before the user interface was known there is nothing to take down.
  if (!ui) {
    if (app)
      LogLine("Stop addIn and stop of logging");
    return true;
  }

  const Ptr<ToolbarPanelList> panels = ui->allToolbarPanels();
  const Ptr<ToolbarPanel> panel = panels ? panels->itemById(kPanelId) : nullptr;
  if (!checkReturn(panel))
    return false;
  const Ptr<ToolbarControls> panelControls = panel->controls();
  if (panelControls) {
    // Deleted through ToolbarControl: a down-cast to a host class would compare type information that
    // the add-in holds a hidden copy of, which on macOS never equals the host's.
    const Ptr<ToolbarControl> button = panelControls->itemById(kButtonId);
    if (button)
      button->deleteMe();
  }
  const Ptr<CommandDefinitions> definitions = ui->commandDefinitions();
  if (definitions) {
    const Ptr<CommandDefinition> buttonDefinition = definitions->itemById(kButtonId);
    if (buttonDefinition)
      buttonDefinition->deleteMe();
  }

  const Ptr<UserInterface> appUi = app ? app->userInterface() : nullptr;
  const Ptr<Toolbars> toolbars = appUi ? appUi->toolbars() : nullptr;
  const Ptr<Toolbar> toolbar = toolbars ? toolbars->itemById(kNewVersionToolbarId) : nullptr;
  if (!checkReturn(toolbar))
    return false;
  if (definitions) {
    const Ptr<CommandDefinition> newVersionDefinition = definitions->itemById(kNewVersionCommandId);
    if (newVersionDefinition)
      newVersionDefinition->deleteMe();
  }
  const Ptr<ToolbarControls> toolbarControls = toolbar->controls();
  if (toolbarControls) {
    const Ptr<ToolbarControl> newVersionButton = toolbarControls->itemById(kNewVersionCommandId);
    if (newVersionButton)
      newVersionButton->deleteMe();
  }

  ui = nullptr;
  LogLine("Stop addIn and stop of logging");
  return true;
}

} // namespace

bool online4FirstTime = false;

ActivationCmdCreatedEventHandler _activationCmdCreated;
ActivationCmdExecuteEventHandler _activationCmdExecute;
OnlineStatusChangedHandler onlineStatusChangedHandler_;

void ActivationCmdCreatedEventHandler::notify(const Ptr<CommandCreatedEventArgs>& eventArgs) {
  Guarded(
      "ActivationCmdCreatedEventHandler",
      [&] {
        const Ptr<Command> command = eventArgs ? eventArgs->command() : nullptr;
        if (!command)
          return 0;
        command->isExecutedWhenPreEmpted(false);
        const Ptr<CommandEvent> execute = command->execute();
        if (execute)
          execute->add(&_activationCmdExecute);
        return 0;
      },
      0);
}

void ActivationCmdExecuteEventHandler::notify(const Ptr<CommandEventArgs>& /*eventArgs*/) {
  Guarded(
      "ActivationCmdExecuteEventHandler",
      [] {
        if (!StartInstallation(true, /*withProgress=*/true, ActivationEnded))
          ShowMessageBox(Wstr2Str(kInstallationRunning));
        return 0;
      },
      0);
}

void OnlineStatusChangedHandler::notify(const Ptr<ApplicationEventArgs>& eventArgs) {
  Guarded(
      "OnlineStatusChangedHandler",
      [&] {
        if (!eventArgs || eventArgs->isOffLine() || online4FirstTime)
          return 0;
        online4FirstTime = true;
        // An installation that "Aktivace CZ" started meanwhile is the first start's: its end runs the check.
        if (InstallationRunning())
          versionCheckAfterActivation = true;
        else
          StartInstallation(false, /*withProgress=*/false, [] { CheckNewVersion(); });
        return 0;
      },
      0);
}

bool RunAddin(const char* /*context*/) noexcept {
  // Balanced by UpdateClientStop in stop, which the host calls whatever run returned. Without it the
  // add-in runs on; its requests then fail as transfers.
  Guarded("run", UpdateClientStart, false);
  return Guarded("run", Run, false);
}

bool StopAddin(const char* /*context*/) noexcept {
  // No worker may outlive the library, and none may call into the host once the add-in is gone.
  Guarded(
      "stop",
      [] {
        if (!workerbridge::StopWorkers(kStopLimit))
          LogLine("(stop) a background job took longer than 2 s to end");
        CancellableProgress::CloseAll();
        versionCheckAfterActivation = false;
        return 0;
      },
      0);
  const bool stopped = Guarded("stop", Stop, false);
  Guarded(
      "stop",
      [] {
        UpdateClientStop();
        return 0;
      },
      0);
  return stopped;
}

} // namespace orvandel
