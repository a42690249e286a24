#include "new_version.h"

#include "host_support.h"
#include "http_fetch.h"
#include "offer_state.h"
#include "platform.h"
#include "update_protocol.h"
#include "utilities.h"

#include <cstdlib>

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
constexpr const wchar_t* kDownloaded = L"Instalační balíček nové verze české lokalizace najdete v Downloads";
constexpr const wchar_t* kDownloadFailed = L"Stažení nové verze České lokalizace se nezdařilo: ";

constexpr const char* kDownloadsTarget = "/Downloads/Orvandel-installer.pkg";

// Why the download failed, in words for the user.
std::wstring DownloadFailureReason(const FileFetch& fetch) {
  switch (fetch.outcome) {
  case FileFetchOutcome::Complete:
    return std::wstring();
  case FileFetchOutcome::CannotCreate:
    return L"ve složce Downloads nelze vytvořit soubor";
  case FileFetchOutcome::NoHandle:
    return L"přenos nelze zahájit";
  case FileFetchOutcome::HttpStatus:
    return L"server odpověděl chybou HTTP " + std::to_wstring(fetch.status);
  case FileFetchOutcome::CannotFinish:
    return L"soubor nelze uložit do složky Downloads";
  case FileFetchOutcome::TransferFailed:
    break;
  }
  switch (fetch.code) {
  case CURLE_UNSUPPORTED_PROTOCOL:
    return L"adresa balíčku nepoužívá zabezpečený protokol HTTPS";
  case CURLE_URL_MALFORMAT:
    return L"adresa balíčku je neplatná";
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_CONNECT:
    return L"server balíčku není dostupný";
  case CURLE_OPERATION_TIMEDOUT:
    return L"server přestal odpovídat";
  case CURLE_PEER_FAILED_VERIFICATION:
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_SSL_CACERT_BADFILE:
    return L"zabezpečené spojení se serverem se nepodařilo ověřit";
  case CURLE_PARTIAL_FILE:
  case CURLE_RECV_ERROR:
  case CURLE_GOT_NOTHING:
    return L"přenos skončil před koncem souboru";
  case CURLE_TOO_MANY_REDIRECTS:
    return L"server přesměrovává příliš mnohokrát";
  case CURLE_WRITE_ERROR:
    return L"soubor nelze zapsat do složky Downloads";
  default:
    return L"chyba přenosu";
  }
}

void ShowMessage(const std::string& text, MessageBoxIconTypes icon) {
  if (ui)
    ui->messageBox(text, "", OKButtonType, icon);
}

void ReportDownloadFailure(const std::wstring& reason, const std::string& logReason) {
  LogRoutine("downloadLatestVersion", " download failed: " + logReason);
  ShowMessage(ws2s(kDownloadFailed + reason + L"."), WarningIconType);
}

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
        const DialogResults answer =
            ui->messageBox(NewVersionQuestion(serverVersion, localVersion), ws2s(kQuestionTitle),
                           YesNoButtonType, QuestionIconType /* value 1 */);
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

std::string GetDownloadLinkFrom(const std::string& serverBaseUrl) {
  const std::string url = DownloadLinkUrl(serverBaseUrl, idServerVersion);
  const TextFetch answer = FetchText(url);
  if (answer.code != CURLE_OK) {
    LogLine(url, ErrorLogLevel);
    LogLine(curl_easy_strerror(answer.code), ErrorLogLevel);
  }
  return answer.text;
}

std::string GetDownloadLink() {
  return GetDownloadLinkFrom(ServerBaseUrl());
}

void DownloadLatestVersionTo(const std::string& serverBaseUrl, const std::string& home) {
  const std::string link = GetDownloadLinkFrom(serverBaseUrl);
  if (link.empty())
    return;
  const std::string address = PackageAddress(link);
  if (home.empty()) {
    ReportDownloadFailure(L"není nastavena proměnná HOME", "HOME is not set");
    return;
  }
  const FileFetch fetch = FetchFile(address, home + kDownloadsTarget);
  if (!fetch.ok()) {
    ReportDownloadFailure(DownloadFailureReason(fetch), DescribeFileFetch(fetch) + " (" + address + ")");
    return;
  }
  ShowMessage(ws2s(kDownloaded), NoIconIconType);
}

void downloadLatestVersion() {
  const char* home = std::getenv("HOME");
  DownloadLatestVersionTo(ServerBaseUrl(), home ? home : "");
}
