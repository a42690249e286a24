#include "update_tasks.h"

#include "background_worker.h"
#include "host_support.h"
#include "new_version.h"
#include "utilities.h"
#include "version_check.h"

#include <Core/CoreAll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>

using namespace adsk::core;
using orvandel::app;
using orvandel::ui;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kVersionCheckedEvent = "OrvandelVersionChecked";
constexpr const char* kDownloadProgressEvent = "OrvandelDownloadProgress";
constexpr const char* kDownloadEndedEvent = "OrvandelDownloadEnded";

constexpr const wchar_t* kProgressTitle = L"Nová verze České lokalizace";
constexpr const wchar_t* kProgressAsking = L"Zjišťuje se adresa instalačního balíčku…";
constexpr const wchar_t* kProgressDownloading = L"Stahuje se instalační balíček nové verze: ";
constexpr const wchar_t* kProgressOf = L" z ";
constexpr const wchar_t* kCancelText = L"Zrušit";

// How often a transfer reports to the main thread at most, and so how late the main thread may learn
// of a Cancel (a transfer reads its stop flag ten times a second).
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// How long stop waits for the workers together.
constexpr auto kStopLimit = std::chrono::milliseconds(2000);

class VersionCheckedHandler final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& eventArgs) override;
};
class DownloadProgressHandler final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& eventArgs) override;
};
class DownloadEndedHandler final : public CustomEventHandler {
public:
  void notify(const Ptr<CustomEventArgs>& eventArgs) override;
};

VersionCheckedHandler versionChecked_;
DownloadProgressHandler downloadProgress_;
DownloadEndedHandler downloadEnded_;

struct EventSlot {
  const char* id;
  CustomEventHandler* handler;
  bool registered;
};
EventSlot g_events[] = {
    {kVersionCheckedEvent, &versionChecked_, false},
    {kDownloadProgressEvent, &downloadProgress_, false},
    {kDownloadEndedEvent, &downloadEnded_, false},
};

// Each worker's result is written by its job and read on the main thread after the worker is joined.
BackgroundWorker g_versionWorker;
VersionQuery g_versionQuery;
BackgroundWorker g_downloadWorker;
PackageDownload g_download;

Ptr<ProgressDialog> g_dialog;
// Set by the main thread when it has seen the dialog's Cancel.
bool g_downloadCancelled = false;
// A progress event is queued and not yet handled; the worker fires no other meanwhile, so a busy main
// thread does not find a backlog.
std::atomic<bool> g_progressQueued{false};

bool RegisterEvents() {
  for (EventSlot& slot : g_events) {
    if (slot.registered)
      continue;
    const Ptr<CustomEvent> event = app->registerCustomEvent(slot.id);
    if (!event) {
      std::string reason;
      app->getLastError(&reason);
      LogRoutine("UpdateTasks", std::string(" cannot register the event ") + slot.id + ": " + reason);
      return false;
    }
    slot.registered = true;
    event->add(slot.handler);
  }
  return true;
}

void UnregisterEvents() {
  for (EventSlot& slot : g_events) {
    if (slot.registered && app)
      app->unregisterCustomEvent(slot.id);
    slot.registered = false;
  }
}

void CloseDialog() {
  if (g_dialog && g_dialog->isShowing())
    g_dialog->hide();
  g_dialog = nullptr;
}

// A size for the progress dialog: whole kilobytes below a megabyte, else megabytes with one decimal
// after a comma, as Czech writes it.
std::wstring SizeText(std::uint64_t bytes) {
  if (bytes < 1024 * 1024)
    return std::to_wstring((bytes + 1023) / 1024) + L" kB";
  const std::uint64_t tenths = (bytes * 10 + 512 * 1024) / (1024 * 1024);
  return std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10) + L" MB";
}

// The progress callback of a transfer on a worker: ends it once stop is requested, and passes the
// counts to the main thread at most every kProgressInterval, stage naming the transfer.
TransferProgress ReportingProgress(Application* host, const std::atomic<bool>& stop, const char* stage) {
  auto lastReport = std::make_shared<Clock::time_point>();
  return [host, &stop, stage, lastReport](std::uint64_t received, std::uint64_t expected) {
    if (stop)
      return false;
    const Clock::time_point now = Clock::now();
    if (now - *lastReport >= kProgressInterval && !g_progressQueued.exchange(true)) {
      *lastReport = now;
      const std::string info =
          std::string(stage) + " " + std::to_string(received) + " " + std::to_string(expected);
      if (!host->fireCustomEvent(kDownloadProgressEvent, info))
        g_progressQueued = false;
    }
    return true;
  };
}

void VersionCheckedHandler::notify(const Ptr<CustomEventArgs>& /*eventArgs*/) {
  Guarded(
      "VersionCheckedHandler",
      [] {
        if (!g_versionWorker.Busy())
          return 0;
        g_versionWorker.Join(kStopLimit);
        FinishVersionCheck(g_versionQuery);
        return 0;
      },
      0);
}

void DownloadProgressHandler::notify(const Ptr<CustomEventArgs>& eventArgs) {
  Guarded(
      "DownloadProgressHandler",
      [&] {
        g_progressQueued = false;
        if (!g_dialog || !g_downloadWorker.Busy() || g_downloadCancelled)
          return 0;
        if (g_dialog->wasCancelled()) {
          g_downloadCancelled = true;
          g_downloadWorker.RequestStop();
          return 0;
        }
        std::istringstream info(eventArgs ? eventArgs->additionalInfo() : std::string());
        std::string stage;
        std::uint64_t received = 0;
        std::uint64_t expected = 0;
        if (!(info >> stage >> received >> expected) || stage != "package")
          return 0;
        std::wstring message = kProgressDownloading + SizeText(received);
        if (expected > 0)
          message += kProgressOf + SizeText(expected);
        // The message before the value, so that a move of the bar shows the bytes it stands for.
        g_dialog->message(ws2s(message));
        if (expected > 0)
          g_dialog->progressValue(
              static_cast<int>(std::min<std::uint64_t>(received, expected) * 100 / expected));
        return 0;
      },
      0);
}

void DownloadEndedHandler::notify(const Ptr<CustomEventArgs>& /*eventArgs*/) {
  Guarded(
      "DownloadEndedHandler",
      [] {
        if (!g_downloadWorker.Busy())
          return 0;
        g_downloadWorker.Join(kStopLimit);
        // The package is placed only here, on the main thread, so that a Cancel pressed at any moment
        // before the dialog goes keeps the previous package.
        if (g_downloadCancelled || (g_dialog && g_dialog->wasCancelled())) {
          g_download = PackageDownload();
          CloseDialog();
          LogRoutine("downloadLatestVersion", " cancelled by the user");
          return 0;
        }
        PlacePackage(g_download);
        // The last report may predate the last bytes: the dialog names what arrived before it goes
        // (the message first, so that the move to 100 % shows it).
        if (g_dialog && g_download.attempted) {
          g_dialog->message(ws2s(kProgressDownloading + SizeText(g_download.file.bytes)));
          if (g_download.file.ok())
            g_dialog->progressValue(100);
        }
        CloseDialog();
        ReportPackageDownload(g_download);
        g_download = PackageDownload();
        return 0;
      },
      0);
}

} // namespace

bool StartVersionCheck(const std::string& versionFile, const std::string& serverBaseUrl) {
  if (!app || g_versionWorker.Busy() || !RegisterEvents())
    return false;
  Application* host = app.get();
  return g_versionWorker.Start([host, versionFile, serverBaseUrl](const std::atomic<bool>& stop) {
    g_versionQuery = QueryVersion(versionFile, serverBaseUrl,
                                  [&stop](std::uint64_t, std::uint64_t) { return !stop.load(); });
    host->fireCustomEvent(kVersionCheckedEvent);
  });
}

bool StartDownload(const std::string& serverBaseUrl, const std::string& id, const std::string& home,
                   const std::string& teamId) {
  if (!app || !ui || g_downloadWorker.Busy() || !RegisterEvents())
    return false;
  g_downloadCancelled = false;
  g_progressQueued = false;
  g_dialog = ui->createProgressDialog();
  if (g_dialog) {
    g_dialog->isCancelButtonShown(true);
    g_dialog->cancelButtonText(ws2s(kCancelText));
    g_dialog->show(ws2s(kProgressTitle), ws2s(kProgressAsking), 0, 100, /*delay=*/0);
  }
  Application* host = app.get();
  const bool started =
      g_downloadWorker.Start([host, serverBaseUrl, id, home, teamId](const std::atomic<bool>& stop) {
        g_download = DownloadPackage(serverBaseUrl, id, home, teamId, ReportingProgress(host, stop, "link"),
                                     ReportingProgress(host, stop, "package"));
        host->fireCustomEvent(kDownloadEndedEvent);
      });
  if (!started) {
    CloseDialog();
    LogRoutine("downloadLatestVersion", " cannot start the download");
  }
  return started;
}

bool DownloadRunning() {
  return g_downloadWorker.Busy();
}

void StopUpdateTasks() {
  g_versionWorker.RequestStop();
  g_downloadWorker.RequestStop();
  const Clock::time_point deadline = Clock::now() + kStopLimit;
  auto remaining = [&] {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
  };
  const bool versionInTime = g_versionWorker.Join(remaining());
  const bool downloadInTime = g_downloadWorker.Join(remaining());
  if (!versionInTime || !downloadInTime)
    LogRoutine("stop", " a background transfer took longer than 2 s to end");
  // A package not yet placed is removed: nothing is placed once stop has begun.
  g_download = PackageDownload();
  CloseDialog();
  UnregisterEvents();
}
