#include "new_version.h"

#include "host_support.h"
#include "http_fetch.h"
#include "offer_state.h"
#include "package_signature.h"
#include "platform.h"
#include "update_protocol.h"
#include "update_tasks.h"
#include "utilities.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

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
constexpr const wchar_t* kLinkFailed = L"Adresu instalačního balíčku nové verze se nepodařilo získat: ";

constexpr const char* kDownloadsTarget = "/Downloads/Orvandel-installer.pkg";
constexpr const char* kRoutine = "downloadLatestVersion";
// The name the quarantine attribute gives as the program that downloaded the package.
constexpr const char* kQuarantineAgent = "Orvandel";

#ifndef QUORLEX_PACKAGE_TEAM_ID
#define QUORLEX_PACKAGE_TEAM_ID ""
#endif
// The maker's Developer ID team; empty: the package's signature is left to the system alone.
constexpr const char* kPackageTeamId = QUORLEX_PACKAGE_TEAM_ID;

// Why a transfer failed at the network level, in words for the user; address names what was fetched.
std::wstring TransferFailureReason(CURLcode code, const std::wstring& address) {
  switch (code) {
  case CURLE_UNSUPPORTED_PROTOCOL:
    return address + L" nepoužívá zabezpečený protokol HTTPS";
  case CURLE_URL_MALFORMAT:
    return address + L" je neplatná";
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_CONNECT:
    return L"server není dostupný";
  case CURLE_OPERATION_TIMEDOUT:
    return L"server přestal odpovídat nebo posílá data příliš pomalu";
  case CURLE_PEER_FAILED_VERIFICATION:
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_SSL_CACERT_BADFILE:
    return L"zabezpečené spojení se serverem se nepodařilo ověřit";
  case CURLE_PARTIAL_FILE:
  case CURLE_RECV_ERROR:
  case CURLE_GOT_NOTHING:
    return L"přenos skončil předčasně";
  case CURLE_TOO_MANY_REDIRECTS:
    return L"server přesměrovává příliš mnohokrát";
  case CURLE_WRITE_ERROR:
    return L"přijatá data nelze uložit";
  default:
    return L"chyba přenosu";
  }
}

// "1 GiB", "4 MiB" or "1000 B": the size a limit allows.
std::wstring SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  if (bytes >= 1024 * kMiB && bytes % (1024 * kMiB) == 0)
    return std::to_wstring(bytes / (1024 * kMiB)) + L" GiB";
  if (bytes >= kMiB && bytes % kMiB == 0)
    return std::to_wstring(bytes / kMiB) + L" MiB";
  return std::to_wstring(bytes) + L" B";
}

std::wstring LinkFailureReason(const TextFetch& fetch) {
  if (fetch.tooLarge)
    return L"odpověď serveru je příliš dlouhá";
  if (fetch.code != CURLE_OK)
    return TransferFailureReason(fetch.code, L"adresa serveru");
  if (fetch.status != 200)
    return L"server odpověděl chybou HTTP " + std::to_wstring(fetch.status);
  return L"server neposlal žádnou odpověď";
}

// Why the download failed, in words for the user.
std::wstring DownloadFailureReason(const FileFetch& fetch, const PackageCheck& check) {
  switch (fetch.outcome) {
  case FileFetchOutcome::Complete:
    return std::wstring();
  case FileFetchOutcome::CannotCreate:
    return L"ve složce Downloads nelze vytvořit soubor";
  case FileFetchOutcome::NoHandle:
    return L"přenos nelze zahájit";
  case FileFetchOutcome::HttpStatus:
    return L"server odpověděl chybou HTTP " + std::to_wstring(fetch.status);
  case FileFetchOutcome::Empty:
    return L"server neposlal žádná data";
  case FileFetchOutcome::Undelimited:
    return L"server neuvedl délku balíčku, takže nelze ověřit, že dorazil celý";
  case FileFetchOutcome::TooLarge:
    return L"balíček je větší než " + SizeText(CurrentFetchLimits().fileMaxBytes);
  case FileFetchOutcome::CannotFinish:
    return L"soubor nelze uložit do složky Downloads";
  case FileFetchOutcome::Refused:
    switch (check.verdict) {
    case PackageVerdict::NotAPackage:
      return L"server neposlal instalační balíček";
    case PackageVerdict::SignatureUnchecked:
      return L"podpis balíčku nelze ověřit";
    case PackageVerdict::SignatureRefused:
      return L"balíček není podepsán výrobcem České lokalizace";
    case PackageVerdict::Accepted:
    case PackageVerdict::Stopped:
      break;
    }
    return L"balíček byl odmítnut";
  case FileFetchOutcome::TransferFailed:
    break;
  }
  if (fetch.code == CURLE_WRITE_ERROR)
    return L"soubor nelze zapsat do složky Downloads";
  return TransferFailureReason(fetch.code, L"adresa balíčku");
}

// The first bytes of the file at path (at most four); empty when it cannot be read.
std::string FirstBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char bytes[4] = {};
  file.read(bytes, sizeof bytes);
  return std::string(bytes, static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
}

// The size of the file at path; 0 when it cannot be told.
std::uint64_t FileSizeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

// The checks a downloaded file passes before it may replace the previous package: a flat installer
// package, signed by teamId when one is set. An accepted file is marked as downloaded from the
// internet while it still has its temporary name, so that it is never in Downloads unmarked. Runs on
// the download's worker: calls no host function. keepGoing is asked before each step and during the
// signature check; once it says no, the file is refused as Stopped and the checker is killed.
bool AcceptPackage(const std::string& path, const std::string& teamId, const std::function<bool()>& keepGoing,
                   PackageCheck* check) {
  auto refuseAsStopped = [check] {
    check->verdict = PackageVerdict::Stopped;
    check->reason = "stopped";
    return false;
  };
  if (!keepGoing())
    return refuseAsStopped();
  if (!IsFlatPackageStart(FirstBytes(path))) {
    check->verdict = PackageVerdict::NotAPackage;
    check->reason = "not an installer package";
    return false;
  }
  if (!teamId.empty()) {
    const long limitMs = CurrentFetchLimits().signatureCheckMs;
    const ProgramReport report =
        CheckPackageSignature(path, std::chrono::milliseconds(limitMs), [&] { return !keepGoing(); });
    if (report.cancelled || !keepGoing())
      return refuseAsStopped();
    if (!report.started || report.timedOut) {
      check->verdict = PackageVerdict::SignatureUnchecked;
      check->reason = report.started
                          ? "the signature check took longer than " + std::to_string(limitMs) + " ms"
                          : "the signature checker cannot be started";
      return false;
    }
    const SignatureVerdict signature = ReadSignatureReport(report.output, report.exitStatus, teamId);
    if (!signature.accepted) {
      check->verdict = PackageVerdict::SignatureRefused;
      check->reason = "signature refused: " + signature.reason;
      return false;
    }
  }
  check->quarantineError = MarkAsDownloaded(path, kQuarantineAgent);
  return keepGoing() || refuseAsStopped();
}

void ShowMessage(const std::string& text, MessageBoxIconTypes icon) {
  if (ui)
    ui->messageBox(text, "", OKButtonType, icon);
}

void ReportDownloadFailure(const std::wstring& reason, const std::string& logReason) {
  LogRoutine(kRoutine, " download failed: " + EscapeForLog(logReason));
  ShowMessage(ws2s(kDownloadFailed + reason + L"."), WarningIconType);
}

// A failed download-link query in the log: the URL, then the reason, both at level 0. False for a
// query that did not fail.
bool LogLinkFailure(const std::string& url, const TextFetch& answer) {
  const std::string failure = DescribeTextFetch(answer);
  if (failure.empty())
    return false;
  LogLine(EscapeForLog(url), ErrorLogLevel);
  LogLine(EscapeForLog(failure), ErrorLogLevel);
  return true;
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
        // The download under way goes on; a second one would only race it for the same file.
        if (DownloadRunning()) {
          LogRoutine("QuickCmdExecuteEventHandler", " a download is already running");
          return 0;
        }
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

PackageDownload DownloadPackage(const std::string& serverBaseUrl, const std::string& id,
                                const std::string& home, const std::string& teamId,
                                const TransferProgress& linkProgress,
                                const TransferProgress& packageProgress) {
  PackageDownload download;
  download.linkUrl = DownloadLinkUrl(serverBaseUrl, id);
  download.link = FetchText(download.linkUrl, linkProgress);
  // A failed link query drives nothing: what arrived before the failure is no address.
  if (!DescribeTextFetch(download.link).empty())
    return download;
  download.address = PackageAddress(download.link.text);
  if (home.empty())
    return download;
  download.attempted = true;
  if (!IsUsablePackageAddress(download.address)) {
    // libcurl would take a relative address for a host name and report the server as unreachable.
    download.file.outcome = FileFetchOutcome::TransferFailed;
    download.file.code = CURLE_URL_MALFORMAT;
    return download;
  }
  const std::string target = home + kDownloadsTarget;
  download.file = FetchFileUnplaced(
      download.address, target,
      [&](const std::string& path) {
        // The whole file has arrived: while it is checked, the progress shows it whole.
        const std::uint64_t size = FileSizeOf(path);
        return AcceptPackage(
            path, teamId, [&] { return !packageProgress || packageProgress(size, size); }, &download.check);
      },
      packageProgress);
  return download;
}

void PlacePackage(PackageDownload& download) {
  PlaceFetchedFile(download.file);
}

void ReportPackageDownload(const PackageDownload& download) {
  if (LogLinkFailure(download.linkUrl, download.link)) {
    ShowMessage(ws2s(kLinkFailed + LinkFailureReason(download.link) + L"."), WarningIconType);
    return;
  }
  if (!download.attempted) {
    ReportDownloadFailure(L"není nastavena proměnná HOME", "HOME is not set");
    return;
  }
  if (download.check.quarantineError)
    LogRoutine(kRoutine, std::string(" quarantine attribute could not be set: ") +
                             std::strerror(download.check.quarantineError));
  const FileFetch& fetch = download.file;
  if (!fetch.ok()) {
    const std::string why =
        fetch.outcome == FileFetchOutcome::Refused ? download.check.reason : DescribeFileFetch(fetch);
    ReportDownloadFailure(DownloadFailureReason(fetch, download.check), why + " (" + download.address + ")");
    return;
  }
  ShowMessage(ws2s(kDownloaded), NoIconIconType);
}

void DownloadLatestVersionTo(const std::string& serverBaseUrl, const std::string& home,
                             const std::string& teamId) {
  PackageDownload download = DownloadPackage(serverBaseUrl, idServerVersion, home, teamId);
  PlacePackage(download);
  ReportPackageDownload(download);
}

void downloadLatestVersion() {
  const char* home = std::getenv("HOME");
  StartDownload(ServerBaseUrl(), idServerVersion, home ? home : "", kPackageTeamId);
}
