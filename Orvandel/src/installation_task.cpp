#include "installation_task.h"

#include "host_support.h"
#include "installer.h"
#include "worker_bridge.h"

#include <utilities.h>

#include <Core/CoreAll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

using namespace adsk::core;

namespace orvandel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInstallationEvent = "OrvandelInstallation";
// How often the run reports its count at most, and so how late the main thread may learn of a Cancel.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

constexpr const wchar_t* kProgressTitle = L"Instalace češtiny";
constexpr const wchar_t* kProgressPreparing = L"Připravuje se instalace češtiny…";
constexpr const wchar_t* kProgressCopied = L"Zkopírováno souborů: ";
constexpr const wchar_t* kProgressOf = L" z ";

// Cancel ends the run before its next file.
CancellableProgress g_progress([] { workerbridge::RequestStop(kInstallationEvent); });

// On the main thread, as the run reports its count.
void UpdateProgress(std::uint64_t copied, std::uint64_t total) {
  // The total is counted before the run and may fall short of a package that grew meanwhile.
  copied = std::min(copied, total);
  g_progress.Update(kProgressCopied + std::to_wstring(copied) + kProgressOf + std::to_wstring(total),
                    total > 0 ? static_cast<int>(copied * 100 / total) : 0);
}

// The run on the worker. It reports its count to the main thread at most every kProgressInterval
// when it has a dialog to show it in, and reads its stop flag before every file.
void InstallationJob(bool force, bool withProgress, workerbridge::JobContext& bridgeContext) {
  InstallPlaces places;
  try {
    places = SystemInstallPlaces();
  } catch (...) {
    // Out of memory before the run began: places stay empty, and the run reports the unknown home.
  }
  InstallHooks hooks;
  if (!withProgress) {
    hooks.betweenFiles = [&bridgeContext] { return !bridgeContext.StopRequested(); };
    InstallCzechFiles(force, places, bridgeContext, hooks);
    return;
  }
  // Whatever of the run reaches the main thread first looks at the dialog's Cancel; a question asked
  // after it (the language) is not answered.
  workerbridge::CheckedContext context(bridgeContext, [] { return g_progress.Cancelled(); });
  const std::uint64_t total = FilesToCopy(places);
  std::uint64_t copied = 0;
  Clock::time_point lastReport{};
  hooks.betweenFiles = [&] {
    if (context.StopRequested())
      return false;
    const Clock::time_point now = Clock::now();
    if (now - lastReport >= kProgressInterval) {
      lastReport = now;
      context.Post([copied, total] { UpdateProgress(copied, total); });
    }
    ++copied;
    return true;
  };
  // A message box is the run's last word to the user: the dialog goes before it.
  hooks.beforeMessage = [] { g_progress.Close(); };
  InstallCzechFiles(force, places, context, hooks);
}

} // namespace

bool StartInstallation(bool force, bool withProgress, const std::function<void()>& onEnd) {
  if (InstallationRunning())
    return false;
  if (withProgress)
    g_progress.Show(kProgressTitle, kProgressPreparing);
  const auto ended = [onEnd] {
    g_progress.Close();
    if (onEnd)
      onEnd();
  };
  const bool started = workerbridge::Start(
      kInstallationEvent,
      [force, withProgress](workerbridge::JobContext& context) {
        InstallationJob(force, withProgress, context);
      },
      ended);
  if (!started) {
    g_progress.Close();
    LogRoutine("CopyCzechFiles", " no background worker, the installation runs at once");
    workerbridge::RunHere(
        [force](workerbridge::JobContext& context) { InstallationJob(force, false, context); });
    ended();
  }
  return true;
}

bool InstallationRunning() {
  return workerbridge::Running(kInstallationEvent);
}

} // namespace orvandel
