#include "worker_bridge.h"

#include "host_support.h"

#include <Core/CoreAll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

using namespace adsk::core;
using orvandel::app;

namespace workerbridge {
namespace {

using Clock = std::chrono::steady_clock;

// How long the end handler waits for a worker that has already returned from its job.
constexpr auto kEndJoinLimit = std::chrono::milliseconds(2000);

void RunGuarded(const MainThreadWork& work) {
  Guarded(
      "WorkerBridge",
      [&] {
        work();
        return 0;
      },
      0);
}

// One feature's slot: its worker thread, its stop flag, its custom event and the work its job posted.
// Lives as long as the library, since the host holds it as the event's handler while the event is
// registered.
class Task final : public CustomEventHandler, public JobContext {
public:
  explicit Task(std::string id) : m_id(std::move(id)) {}
  // No thread outlives its slot (stop has joined it already unless the library goes without stop).
  ~Task() override {
    RequestStop();
    if (m_thread.joinable())
      m_thread.join();
  }

  bool Start(Job job, MainThreadWork onEnd) {
    if (m_running || m_thread.joinable() || !Register())
      return false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_queue.clear();
      m_eventQueued = false;
      m_returned = false;
    }
    m_host = app.get();
    m_onEnd = std::move(onEnd);
    m_stopRequested = false;
    try {
      m_thread = std::thread([this, job = std::move(job)]() noexcept {
        try {
          job(*this);
        } catch (...) {
          // A job reports through what it posts; an escaped exception only ends it.
        }
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_returned = true;
          m_changed.notify_all();
        }
        Fire();
      });
    } catch (const std::system_error&) {
      m_onEnd = nullptr;
      return false;
    }
    m_running = true;
    return true;
  }

  bool Running() const { return m_running; }

  void RequestStop() {
    m_stopRequested = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
  }

  // Waits up to limit for the job to return, then joins its thread: a job that overruns the limit is
  // still joined, since no thread may outlive the library. False when it overran; true at once without
  // a thread.
  bool Join(std::chrono::milliseconds limit) {
    if (!m_thread.joinable())
      return true;
    bool inTime = true;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      inTime = m_changed.wait_for(lock, limit, [this] { return m_returned; });
    }
    m_thread.join();
    return inTime;
  }

  // After the worker is joined: forgets what was posted and leaves the host's event.
  void Drop() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_queue.clear();
      m_eventQueued = false;
      m_returned = false;
    }
    m_onEnd = nullptr;
    m_running = false;
    if (m_registered && app)
      app->unregisterCustomEvent(m_id);
    m_registered = false;
  }

  // The custom event, on the main thread: runs what was posted, then the end once all of it ran. A
  // host callback: nothing may escape it (a lock or a join that fails throws).
  void notify(const Ptr<CustomEventArgs>& /*eventArgs*/) override {
    Guarded(
        "WorkerBridge",
        [this] {
          Deliver();
          return 0;
        },
        0);
  }

  bool StopRequested() const override { return m_stopRequested; }

  void Post(MainThreadWork work) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_queue.push_back(std::move(work));
    }
    Fire();
  }

  bool Ask(std::function<bool()> work) override {
    struct Answer {
      bool done = false;
      bool value = false;
    };
    const auto answer = std::make_shared<Answer>();
    Post([this, answer, work = std::move(work)] {
      // Set on this thread: after the request to end, no question is answered.
      if (m_stopRequested)
        return;
      bool value = false;
      try {
        value = work();
      } catch (...) {
        // Counts as a failed answer; the job reports it.
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      answer->done = true;
      answer->value = value;
      m_changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return answer->done || StopRequested(); });
    return answer->done && answer->value;
  }

private:
  // Runs what was posted, then the end once the job has returned and all it posted ran.
  void Deliver() {
    std::deque<MainThreadWork> posted;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      posted.swap(m_queue);
      m_eventQueued = false;
    }
    for (const MainThreadWork& work : posted)
      RunGuarded(work);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_running || !m_returned || !m_queue.empty())
        return;
    }
    Join(kEndJoinLimit);
    m_running = false;
    const MainThreadWork onEnd = std::move(m_onEnd);
    m_onEnd = nullptr;
    if (onEnd)
      RunGuarded(onEnd);
  }

  bool Register() {
    if (m_registered)
      return true;
    if (!app)
      return false;
    const Ptr<CustomEvent> event = app->registerCustomEvent(m_id);
    if (!event) {
      std::string reason;
      app->getLastError(&reason);
      LogRoutine("WorkerBridge", " cannot register the event " + m_id + ": " + reason);
      return false;
    }
    event->add(this);
    m_registered = true;
    return true;
  }

  // Fires the event unless one is queued already: one delivery runs everything posted until then, so
  // a busy main thread finds no backlog of events. A refused event is fired again with the next post.
  void Fire() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_eventQueued)
        return;
      m_eventQueued = true;
    }
    if (!m_host->fireCustomEvent(m_id)) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_eventQueued = false;
    }
  }

  const std::string m_id;
  std::thread m_thread;
  // Set on the main thread by a request to end, read by the job.
  std::atomic<bool> m_stopRequested{false};
  Application* m_host = nullptr;

  // Main thread only.
  bool m_registered = false;
  bool m_running = false;
  MainThreadWork m_onEnd;

  // Shared with the worker.
  std::mutex m_mutex;
  // Signals an answer to Ask, the job's return and a request to end.
  std::condition_variable m_changed;
  std::deque<MainThreadWork> m_queue;
  bool m_eventQueued = false;
  bool m_returned = false;
};

std::map<std::string, std::unique_ptr<Task>>& Registry() {
  static std::map<std::string, std::unique_ptr<Task>> tasks;
  return tasks;
}

Task* Find(const std::string& eventId) {
  const auto found = Registry().find(eventId);
  return found == Registry().end() ? nullptr : found->second.get();
}

class ImmediateContext final : public JobContext {
public:
  bool StopRequested() const override { return false; }
  void Post(MainThreadWork work) override { RunGuarded(work); }
  bool Ask(std::function<bool()> work) override {
    return Guarded(
        "WorkerBridge", [&] { return work(); }, false);
  }
};

} // namespace

bool Start(const std::string& eventId, Job job, MainThreadWork onEnd) {
  return Guarded(
      "WorkerBridge",
      [&] {
        std::unique_ptr<Task>& task = Registry()[eventId];
        if (!task)
          task = std::make_unique<Task>(eventId);
        return task->Start(std::move(job), std::move(onEnd));
      },
      false);
}

bool Running(const std::string& eventId) {
  const Task* task = Find(eventId);
  return task && task->Running();
}

void CheckedContext::Post(MainThreadWork work) {
  m_inner.Post([cancelled = m_cancelled, work = std::move(work)] {
    cancelled();
    work();
  });
}

bool CheckedContext::Ask(std::function<bool()> work) {
  return m_inner.Ask([cancelled = m_cancelled, work = std::move(work)] { return !cancelled() && work(); });
}

void RequestStop(const std::string& eventId) {
  if (Task* task = Find(eventId))
    task->RequestStop();
}

bool StopWorkers(std::chrono::milliseconds limit) {
  for (const auto& entry : Registry())
    entry.second->RequestStop();
  const Clock::time_point deadline = Clock::now() + limit;
  bool inTime = true;
  for (const auto& entry : Registry()) {
    const auto remaining =
        std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                 std::chrono::milliseconds(0));
    inTime = entry.second->Join(remaining) && inTime;
    entry.second->Drop();
  }
  return inTime;
}

void RunHere(const Job& job) {
  ImmediateContext context;
  RunGuarded([&] { job(context); });
}

} // namespace workerbridge
