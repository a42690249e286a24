#include "background_worker.h"

#include <system_error>
#include <utility>

BackgroundWorker::~BackgroundWorker() {
  RequestStop();
  Join(std::chrono::milliseconds::max());
}

bool BackgroundWorker::Start(Job job) {
  if (m_thread.joinable())
    return false;
  m_stopRequested = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = false;
  }
  try {
    m_thread = std::thread([this, job = std::move(job)]() noexcept {
      try {
        job(m_stopRequested);
      } catch (...) {
        // A job reports through its own result; an escaped exception only ends it.
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      m_ended = true;
      m_endedChanged.notify_all();
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    return false;
  }
  return true;
}

bool BackgroundWorker::Busy() const {
  return m_thread.joinable();
}

void BackgroundWorker::RequestStop() {
  m_stopRequested = true;
}

bool BackgroundWorker::Join(std::chrono::milliseconds limit) {
  if (!m_thread.joinable())
    return true;
  bool inTime = true;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (limit == std::chrono::milliseconds::max())
      m_endedChanged.wait(lock, [this] { return m_ended; });
    else
      inTime = m_endedChanged.wait_for(lock, limit, [this] { return m_ended; });
  }
  m_thread.join();
  return inTime;
}
