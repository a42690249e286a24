// One background job at a time for the language add-in, and the means to end it.
//
// The job runs on a thread of its own and must never call the host (the host's interface is not
// thread-safe); it hands results back through Application::fireCustomEvent, whose handler runs on the
// host's main thread. The job reads stopRequested often enough to end within a second of a request
// (a transfer reads it in libcurl's progress callback), so that stop can join it before the library
// goes away. Start, Busy, Join and the destructor belong on one thread, the host's main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundWorker {
public:
  using Job = std::function<void(const std::atomic<bool>& stopRequested)>;

  BackgroundWorker() = default;
  // Asks a running job to stop and joins it: no thread outlives its worker.
  ~BackgroundWorker();
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  // Starts job on a new thread. False, and nothing started, while an earlier job is still held (it runs,
  // or it ended and Join has not been called yet) or when no thread can be made.
  bool Start(Job job);
  // True from a successful Start until Join: the job's result has not been taken yet.
  bool Busy() const;
  // Tells the job to stop; it reads the request on its own thread.
  void RequestStop();
  // Waits up to limit for the job to end, then joins its thread. A job that overruns the limit is still
  // joined, since the thread must not outlive the library; the result says whether it ended in time.
  // True at once without a job.
  bool Join(std::chrono::milliseconds limit);

private:
  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  mutable std::mutex m_mutex;
  std::condition_variable m_endedChanged;
  bool m_ended = false;
};
