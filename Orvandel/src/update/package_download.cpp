#include "package_download.h"

#include "host_support.h"
#include "package_signature.h"
#include "platform.h"
#include "update_protocol.h"
#include "utilities.h"
#include "worker_bridge.h"

#include <Core/CoreAll.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

using namespace adsk::core;
using orvandel::ui;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDownloadEvent = "OrvandelDownload";

constexpr const wchar_t* kDownloaded = L"Instalační balíček nové verze české lokalizace najdete v Downloads";
constexpr const wchar_t* kDownloadFailed = L"Stažení nové verze České lokalizace se nezdařilo: ";
constexpr const wchar_t* kLinkFailed = L"Adresu instalačního balíčku nové verze se nepodařilo získat: ";
// What the user does after either failure; the button stays until the host quits.
constexpr const wchar_t* kTryAgain = L".\nZkuste to znovu později tlačítkem „Nová verze České lokalizace“.";

constexpr const wchar_t* kProgressTitle = L"Nová verze České lokalizace";
constexpr const wchar_t* kProgressAsking = L"Zjišťuje se adresa instalačního balíčku…";
constexpr const wchar_t* kProgressDownloading = L"Stahuje se instalační balíček nové verze: ";
constexpr const wchar_t* kProgressOf = L" z ";

constexpr const char* kDownloadsTarget = "/Downloads/Orvandel-installer.pkg";
constexpr const char* kRoutine = "downloadLatestVersion";
// The name the quarantine attribute gives as the program that downloaded the package.
constexpr const char* kQuarantineAgent = "Orvandel";

// How often a transfer reports to the main thread at most, and so how late the main thread may learn
// of a Cancel (a transfer reads its stop flag ten times a second).
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

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

// "1 GiB", "4 MiB" or "1000 B": the size a limit allows, exactly.
std::wstring SizeLimitText(std::uint64_t bytes) {
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
    return L"balíček je větší než " + SizeLimitText(CurrentFetchLimits().fileMaxBytes);
  case FileFetchOutcome::UnaskedCoding:
    return L"server poslal balíček v kódování přenosu, o které doplněk nežádal";
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
                   PackageCheck& check) {
  auto refuseAsStopped = [&check] {
    check.verdict = PackageVerdict::Stopped;
    check.reason = "stopped";
    return false;
  };
  if (!keepGoing())
    return refuseAsStopped();
  if (!IsFlatPackageStart(FirstBytes(path))) {
    check.verdict = PackageVerdict::NotAPackage;
    check.reason = "not an installer package";
    return false;
  }
  if (!teamId.empty()) {
    const long limitMs = CurrentFetchLimits().signatureCheckMs;
    const ProgramReport report =
        CheckPackageSignature(path, std::chrono::milliseconds(limitMs), [&] { return !keepGoing(); });
    if (report.cancelled || !keepGoing())
      return refuseAsStopped();
    if (!report.started || report.timedOut) {
      check.verdict = PackageVerdict::SignatureUnchecked;
      check.reason = report.started
                         ? "the signature check took longer than " + std::to_string(limitMs) + " ms"
                         : "the signature checker cannot be started";
      return false;
    }
    const SignatureVerdict signature = ReadSignatureReport(report.output, report.exitStatus, teamId);
    if (!signature.accepted) {
      check.verdict = PackageVerdict::SignatureRefused;
      check.reason = "signature refused: " + signature.reason;
      return false;
    }
  }
  check.quarantineError = MarkAsDownloaded(path, kQuarantineAgent);
  return keepGoing() || refuseAsStopped();
}

void ShowMessage(const std::string& text, MessageBoxIconTypes icon) {
  ShowMessageBox(text, std::string(), OKButtonType, icon);
}

// reason in Czech for the message; logReason in English for the log, its server text already quoted
// (QuoteForLog).
void ReportDownloadFailure(const std::wstring& reason, const std::string& logReason) {
  LogRoutine(kRoutine, " download failed: " + logReason);
  ShowMessage(ws2s(kDownloadFailed + reason + kTryAgain), WarningIconType);
}

// A failed download-link query in the log: the URL, then the reason, both at level 0. False for a
// query that did not fail.
bool LogLinkFailure(const std::string& url, const TextFetch& answer) {
  const std::string failure = DescribeTextFetch(answer);
  if (failure.empty())
    return false;
  LogLine(QuoteForLog(url), ErrorLogLevel);
  LogLine(QuoteForLog(failure), ErrorLogLevel);
  return true;
}

// The download's progress dialog; Cancel asks the worker to end its step. Main thread only.
CancellableProgress g_progress([] { workerbridge::RequestStop(kDownloadEvent); });
// A progress report is posted and has not run yet; the worker posts no other meanwhile, so that a busy
// main thread does not find a backlog.
std::atomic<bool> g_progressPosted{false};

// A size as the progress dialog shows it: whole kilobytes below a megabyte, else megabytes with one
// decimal after a comma, as Czech writes it.
std::wstring RoundedSizeText(std::uint64_t bytes) {
  if (bytes < 1024 * 1024)
    return std::to_wstring((bytes + 1023) / 1024) + L" kB";
  const std::uint64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10) + L" MB";
}

void UpdateProgress(std::uint64_t received, std::uint64_t expected) {
  std::wstring message = kProgressDownloading + RoundedSizeText(received);
  if (expected > 0)
    message += kProgressOf + RoundedSizeText(expected);
  g_progress.Update(message,
                    expected > 0 ? static_cast<int>(std::min(received, expected) * 100 / expected) : -1);
}

// The progress callback of a transfer on the worker: ends it once the job is asked to end, and posts
// the counts to the main thread at most every kProgressInterval; the link query's counts only give
// the main thread a look at Cancel.
TransferProgress ReportingProgress(workerbridge::JobContext& context, bool package) {
  auto lastReport = std::make_shared<Clock::time_point>();
  return [&context, package, lastReport](std::uint64_t received, std::uint64_t expected) {
    if (context.StopRequested())
      return false;
    const Clock::time_point now = Clock::now();
    if (now - *lastReport >= kProgressInterval && !g_progressPosted.exchange(true)) {
      *lastReport = now;
      context.Post([package, received, expected] {
        g_progressPosted = false;
        if (package)
          UpdateProgress(received, expected);
        else
          g_progress.Cancelled();
      });
    }
    return true;
  };
}

// On the main thread once the worker has returned. The package is placed only here, so that a Cancel
// pressed at any moment before the dialog goes keeps the previous package.
void EndDownload(PackageDownload& download) {
  if (g_progress.Cancelled()) {
    download = PackageDownload();
    g_progress.Close();
    LogRoutine(kRoutine, " cancelled by the user");
    return;
  }
  PlacePackage(download);
  // The last report may predate the last bytes: the dialog names what arrived before it goes (the
  // message first, so that the move to 100 % shows it).
  if (download.attempted)
    g_progress.Update(kProgressDownloading + RoundedSizeText(download.file.bytes),
                      download.file.ok() ? 100 : -1);
  g_progress.Close();
  ReportPackageDownload(download);
}

} // namespace

bool StartDownload(const std::string& serverBaseUrl, const std::string& id, const std::string& home,
                   const std::string& teamId) {
  if (!ui || DownloadRunning())
    return false;
  g_progressPosted = false;
  g_progress.Show(kProgressTitle, kProgressAsking);
  // Written by the job, read by the end on the main thread after the bridge has joined the worker.
  auto download = std::make_shared<PackageDownload>();
  const bool started = workerbridge::Start(
      kDownloadEvent,
      [download, serverBaseUrl, id, home, teamId](workerbridge::JobContext& context) {
        *download = DownloadPackage(serverBaseUrl, id, home, teamId, ReportingProgress(context, false),
                                    ReportingProgress(context, true));
      },
      [download] { EndDownload(*download); });
  if (!started) {
    g_progress.Close();
    LogRoutine(kRoutine, " cannot start the download");
  }
  return started;
}

bool DownloadRunning() {
  return workerbridge::Running(kDownloadEvent);
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
            path, teamId, [&] { return !packageProgress || packageProgress(size, size); }, download.check);
      },
      packageProgress);
  return download;
}

void PlacePackage(PackageDownload& download) {
  PlaceFetchedFile(download.file);
}

void ReportPackageDownload(const PackageDownload& download) {
  if (LogLinkFailure(download.linkUrl, download.link)) {
    ShowMessage(ws2s(kLinkFailed + LinkFailureReason(download.link) + kTryAgain), WarningIconType);
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
    ReportDownloadFailure(DownloadFailureReason(fetch, download.check),
                          QuoteForLog(why) + " (" + QuoteForLog(download.address) + ")");
    return;
  }
  ShowMessage(ws2s(kDownloaded), NoIconIconType);
}
