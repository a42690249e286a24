// Custom events: registered and delivered on the host's main thread, fired from any thread.
#include "host_state.h"

#include <algorithm>

namespace hostsim {
namespace detail {

CustomEventQueue& Queue() {
  static CustomEventQueue queue;
  return queue;
}

bool DropCustomEvent(const std::string& id) {
  auto& events = State().customEvents;
  const auto found = events.find(id);
  if (found == events.end())
    return false;
  found->second.event->invalidate();
  events.erase(found);
  CustomEventQueue& queue = Queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.registered.erase(id);
  queue.queued.erase(std::remove_if(queue.queued.begin(), queue.queued.end(),
                                    [&](const CustomEventQueue::Fired& fired) { return fired.id == id; }),
                     queue.queued.end());
  return true;
}

Ptr<CustomEvent> ApplicationImpl::registerCustomEvent(const std::string& eventId) {
  if (Failing("Application", "registerCustomEvent"))
    return Ptr<CustomEvent>();
  if (eventId.empty()) {
    SetLastError(kInvalidArgument, "A custom event needs an id.");
    return Ptr<CustomEvent>();
  }
  auto& events = State().customEvents;
  if (events.count(eventId)) {
    SetLastError(kInvalidArgument, "A custom event with the id \"" + eventId + "\" is already registered.");
    return Ptr<CustomEvent>();
  }
  auto event = MakeObject<CustomEventImpl>(eventId);
  // The caller's code tells which add-in registered the event, so that unloading it drops the event.
  events[eventId] = HostState::RegisteredEvent{event, AddinOwning(__builtin_return_address(0))};
  CustomEventQueue& queue = Queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.registered.insert(eventId);
  return event;
}

// Runs on any thread: touches nothing but the queue (not even the injected failures or the last error).
bool ApplicationImpl::fireCustomEvent(const std::string& eventId, const std::string& additionalInfo) {
  CustomEventQueue& queue = Queue();
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (!queue.registered.count(eventId))
      return false;
    queue.queued.push_back(CustomEventQueue::Fired{eventId, additionalInfo});
  }
  queue.arrived.notify_all();
  return true;
}

bool ApplicationImpl::unregisterCustomEvent(const std::string& eventId) {
  if (Failing("Application", "unregisterCustomEvent"))
    return false;
  if (DropCustomEvent(eventId))
    return true;
  SetLastError(kNotFound, "No custom event with the id \"" + eventId + "\" is registered.");
  return false;
}

} // namespace detail

size_t DeliverCustomEvents() {
  using namespace detail;
  const auto now = std::chrono::steady_clock::now();
  for (const auto& dialog : std::vector<Ptr<ProgressDialogImpl>>(State().progressDialogs))
    dialog->appearIfDue(now);

  CustomEventQueue& queue = Queue();
  size_t budget = 0;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    budget = queue.queued.size();
  }
  // Events that handlers fire meanwhile wait for the next idle moment, so that delivery ends.
  size_t delivered = 0;
  while (delivered < budget) {
    CustomEventQueue::Fired fired;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      if (queue.queued.empty())
        break;
      fired = std::move(queue.queued.front());
      queue.queued.pop_front();
    }
    ++delivered;
    const auto found = State().customEvents.find(fired.id);
    if (found == State().customEvents.end())
      continue;
    Ptr<CustomEventImpl> event = found->second.event;
    Record(TranscriptEvent{"custom_event", {}}.addText("id", fired.id).addText("info", fired.info));
    event->fire(MakeObject<CustomEventArgsImpl>(event, fired.info));
  }
  return delivered;
}

bool WaitForCustomEvents(std::chrono::milliseconds timeout) {
  detail::CustomEventQueue& queue = detail::Queue();
  std::unique_lock<std::mutex> lock(queue.mutex);
  return queue.arrived.wait_for(lock, timeout, [&] { return !queue.queued.empty(); });
}

size_t QueuedCustomEvents() {
  detail::CustomEventQueue& queue = detail::Queue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  return queue.queued.size();
}

} // namespace hostsim
