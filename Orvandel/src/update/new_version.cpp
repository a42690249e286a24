#include "new_version.h"

#include "host_support.h"
#include "offer_state.h"
#include "package_download.h"
#include "platform.h"
#include "utilities.h"

using namespace adsk::core;
using orvandel::ui;

namespace {

constexpr const wchar_t* kCommandName = L"Nová verze České lokalizace";
constexpr const wchar_t* kCommandTooltip = L"Nová verze České lokalizace Fusion 360.";
constexpr const char* kCommandResources = "resources/NewCzech";
constexpr const char* kPositionId = "UserDisplayNameCommand";

constexpr const wchar_t* kQuestionOffered = L"K dispozici je nová verze České lokalizace ";
constexpr const wchar_t* kQuestionInstalled = L"Verze Vaší České lokalizace je ";
constexpr const wchar_t* kQuestionInstalledUnknown = L"Nebyl nalezen soubor s číslem instalované verze";
constexpr const wchar_t* kQuestionLast = L"Chceste stáhnout novou verzi České lokalizace?";
constexpr const wchar_t* kQuestionTitle = L"Nová verze České lokalizace";

#ifndef QUORLEX_PACKAGE_TEAM_ID
#define QUORLEX_PACKAGE_TEAM_ID ""
#endif
// The maker's Developer ID team; empty: the package's signature is left to the system alone.
constexpr const char* kPackageTeamId = QUORLEX_PACKAGE_TEAM_ID;

} // namespace

namespace orvandel {

QuickCmdCreatedEventHandler _quickCmdCreated;
QuickCmdExecuteEventHandler _quickCmdExecute;

void QuickCmdCreatedEventHandler::notify(const Ptr<CommandCreatedEventArgs>& eventArgs) {
  Guarded(
      "QuickCmdCreatedEventHandler",
      [&] {
        Ptr<Command> command = eventArgs ? eventArgs->command() : nullptr;
        if (!command)
          return 0;
        command->isExecutedWhenPreEmpted(false);
        if (!checkReturn(command->commandInputs()))
          return 0;
        Ptr<CommandEvent> execute = command->execute();
        if (execute)
          execute->add(&_quickCmdExecute);
        return 0;
      },
      0);
}

void QuickCmdExecuteEventHandler::notify(const Ptr<CommandEventArgs>& /*eventArgs*/) {
  Guarded(
      "QuickCmdExecuteEventHandler",
      [] {
        if (!ui)
          return 0;
        // The download under way goes on; a second one would only race it for the same file.
        if (DownloadRunning()) {
          LogRoutine("QuickCmdExecuteEventHandler", " a download is already running");
          return 0;
        }
        const DialogResults answer = ShowMessageBox(NewVersionQuestion(serverVersion, localVersion),
                                                    ws2s(kQuestionTitle), YesNoButtonType, QuestionIconType);
        if (answer == DialogYes)
          downloadLatestVersion();
        return 0;
      },
      0);
}

} // namespace orvandel

std::string NewVersionQuestion(const std::string& offered, const std::string& installed) {
  std::string text = ws2s(kQuestionOffered) + offered + "\n";
  text += ws2s(installed.empty() ? kQuestionInstalledUnknown : kQuestionInstalled) + installed + "\n\r";
  text += ws2s(kQuestionLast);
  return text;
}

void NewVersionUI() {
  if (!ui)
    return;
  Ptr<Toolbars> toolbars = ui->toolbars();
  Ptr<Toolbar> toolbar = toolbars ? toolbars->itemById(kNewVersionToolbarId) : nullptr;
  if (!toolbar)
    return;
  Ptr<CommandDefinitions> definitions = ui->commandDefinitions();
  if (!checkReturn(definitions))
    return;
  Ptr<CommandDefinition> definition = definitions->addButtonDefinition(
      kNewVersionCommandId, ws2s(kCommandName), ws2s(kCommandTooltip), kCommandResources);
  if (!checkReturn(definition))
    return;
  Ptr<ToolbarControls> controls = toolbar->controls();
  if (!controls || controls->itemById(kNewVersionCommandId))
    return;
  controls->addCommand(definition, kPositionId, /*isBefore=*/true);
  Ptr<CommandCreatedEvent> created = definition->commandCreated();
  if (checkReturn(created))
    created->add(&orvandel::_quickCmdCreated);
}

void downloadLatestVersion() {
  StartDownload(ServerBaseUrl(), idServerVersion, HomeFolder(), kPackageTeamId);
}
