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

Ptr<ProgressDialog> g_dialog;

void ShowProgress() {
  g_dialog = ShowCancellableProgress(kProgressTitle, kProgressPreparing);
}

// On the main thread: true once the user pressed Cancel, and then the run is asked to end before its
// next file.
bool CheckCancel() {
  if (!g_dialog || !g_dialog->wasCancelled())
    return false;
  workerbridge::RequestStop(kInstallationEvent);
  return true;
}

// The run's context under the dialog: whatever of the run reaches the main thread first looks at the
// dialog's Cancel, so that a Cancel is seen at the run's next word, not only at its next count; a
// question asked after it (the language) is not answered.
class CancellableContext final : public workerbridge::JobContext {
public:
  explicit CancellableContext(workerbridge::JobContext& inner) : m_inner(inner) {}
  bool StopRequested() const override { return m_inner.StopRequested(); }
  void Post(workerbridge::MainThreadWork work) override {
    m_inner.Post([work = std::move(work)] {
      CheckCancel();
      work();
    });
  }
  bool Ask(std::function<bool()> work) override {
    return m_inner.Ask([work = std::move(work)] { return !CheckCancel() && work(); });
  }

private:
  workerbridge::JobContext& m_inner;
};

// On the main thread, as the run reports its count.
void UpdateProgress(std::uint64_t copied, std::uint64_t total) {
  if (!g_dialog || CheckCancel())
    return;
  // The total is counted before the run and may fall short of a package that grew meanwhile.
  copied = std::min(copied, total);
  g_dialog->message(ws2s(kProgressCopied + std::to_wstring(copied) + kProgressOf + std::to_wstring(total)));
  g_dialog->progressValue(total > 0 ? static_cast<int>(copied * 100 / total) : 0);
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
  CancellableContext context(bridgeContext);
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
  hooks.beforeMessage = CloseInstallationProgress;
  InstallCzechFiles(force, places, context, hooks);
}

} // namespace

bool StartInstallation(bool force, bool withProgress, const std::function<void()>& onEnd) {
  if (InstallationRunning())
    return false;
  if (withProgress)
    ShowProgress();
  const auto ended = [onEnd] {
    CloseInstallationProgress();
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
    CloseInstallationProgress();
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

void CloseInstallationProgress() {
  if (g_dialog && g_dialog->isShowing())
    g_dialog->hide();
  g_dialog = nullptr;
}

} // namespace orvandel
