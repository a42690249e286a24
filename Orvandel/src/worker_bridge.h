// Run on a worker, deliver on the main thread: the one way the language add-in keeps slow work off the
// host's main thread. It knows no feature.
//
// A feature starts a job under a custom-event id of its own. The job runs on a worker thread and calls
// no host function; what the host must do for it (log, show, set) it hands back with Post, which
// queues the work and fires the host's custom event. The bridge's handler of that event runs the queued
// work on the main thread, in the order posted, and once the job has returned and all it posted has
// run, joins the worker and calls the feature's end handler there.
//
// Start, Running, RequestStop and StopWorkers belong on the host's main thread; the job's context is
// used on the worker alone. Nothing here lets an exception through.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>

namespace workerbridge {

using MainThreadWork = std::function<void()>;

// What a job sees of the bridge.
class JobContext {
public:
  virtual ~JobContext() = default;
  // True once the job was asked to end (stop, or the user's Cancel). A job reads it between its steps
  // (a transfer in libcurl's progress callback), often enough to end within a second, so that stop
  // joins it before the library goes away.
  virtual bool StopRequested() const = 0;
  // Runs work on the main thread after everything posted before it.
  virtual void Post(MainThreadWork work) = 0;
  // Runs work on the main thread after everything posted before it and waits for its result. False,
  // without waiting further, once the job is asked to end before work ran; work never runs after that.
  virtual bool Ask(std::function<bool()> work) = 0;
};

// A job's context that runs a check on the main thread before each work the job hands over: before
// every posted work (which still runs) and before every question, which a true check leaves unanswered
// (false). This is how a progress dialog's Cancel is seen at the job's next word, not only at its next
// count: the check looks at the dialog and asks the job to end (RequestStop). Used on the worker.
class CheckedContext final : public JobContext {
public:
  CheckedContext(JobContext& inner, std::function<bool()> cancelled)
      : m_inner(inner), m_cancelled(std::move(cancelled)) {}
  bool StopRequested() const override { return m_inner.StopRequested(); }
  void Post(MainThreadWork work) override;
  bool Ask(std::function<bool()> work) override;

private:
  JobContext& m_inner;
  std::function<bool()> m_cancelled; // called on the main thread alone
};

using Job = std::function<void(JobContext& context)>;

// Starts job on a worker under the custom event eventId (registered on first use). onEnd runs on the
// main thread after the job returned and everything it posted ran, also after a RequestStop; not after
// StopWorkers. False, with nothing started, while a job under eventId is running or its end not yet
// handled, or when the host refuses the event or no thread can be made.
bool Start(const std::string& eventId, Job job, MainThreadWork onEnd);
// True from a successful Start under eventId until its onEnd has been called.
bool Running(const std::string& eventId);
// Asks the job under eventId to end; its end is still handled as usual.
void RequestStop(const std::string& eventId);

// For stop: asks every job to end, joins them all within limit (a job that overruns it is still
// joined, as no thread may outlive the library), drops what they posted and did not run, and
// unregisters every custom event. False when a job overran the limit.
bool StopWorkers(std::chrono::milliseconds limit);

// Runs job on the calling thread, the host's main thread, each posted work at once: for when no worker
// can be had. Nothing asks it to end.
void RunHere(const Job& job);

} // namespace workerbridge
