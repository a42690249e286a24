#include "host_state.h"

#include <algorithm>

namespace adsk {
namespace core {

Base::Base() = default;
Base::~Base() = default;

void Base::addref() {
  ++m_refcount;
}

void Base::release() {
  if (--m_refcount == 0)
    delete this;
}

int Base::refcount() const {
  return m_refcount;
}
bool Base::isValid() const {
  return true;
}
const char* Base::objectType() const {
  return classType();
}
const char* Base::classType() {
  return "adsk::core::Base";
}

EventHandler::EventHandler() = default;

EventHandler::~EventHandler() {
  // Events forget this handler, so the host never calls into an add-in that is gone.
  const std::vector<Event*> attached = m_attachedTo;
  for (Event* event : attached)
    event->removeHandler(this);
}

Event::Event() = default;

Event::~Event() {
  for (EventHandler* handler : m_handlers) {
    auto& events = handler->m_attachedTo;
    events.erase(std::remove(events.begin(), events.end(), this), events.end());
  }
}

bool Event::addHandler(EventHandler* handler) {
  if (hostsim::detail::Failing(objectType(), "add"))
    return false;
  if (!handler) {
    hostsim::detail::SetLastError(hostsim::detail::kInvalidArgument, "The handler is null.");
    return false;
  }
  if (hostsim::detail::Deleted(*this, objectType()))
    return false;
  if (std::find(m_handlers.begin(), m_handlers.end(), handler) != m_handlers.end())
    return true;
  m_handlers.push_back(handler);
  handler->m_attachedTo.push_back(this);
  return true;
}

bool Event::removeHandler(EventHandler* handler) {
  const auto found = std::find(m_handlers.begin(), m_handlers.end(), handler);
  if (found == m_handlers.end())
    return false;
  m_handlers.erase(found);
  auto& events = handler->m_attachedTo;
  events.erase(std::remove(events.begin(), events.end(), this), events.end());
  return true;
}

std::vector<EventHandler*> Event::handlers() const {
  return m_handlers;
}

} // namespace core
} // namespace adsk
