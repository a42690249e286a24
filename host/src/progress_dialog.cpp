// The host's progress dialog.
#include "host_state.h"

#include <algorithm>

namespace hostsim {
namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

} // namespace

bool ProgressDialogImpl::checked(const char* member) {
  return !Failing("ProgressDialog", member) && !Deleted(*this, "ProgressDialog");
}

std::string ProgressDialogImpl::substituted() const {
  const long long range = static_cast<long long>(m_maximum) - m_minimum;
  const long long percent = range > 0 ? (static_cast<long long>(m_value) - m_minimum) * 100 / range : 100;
  std::string text = m_message;
  ReplaceAll(text, "%p", std::to_string(percent));
  ReplaceAll(text, "%v", std::to_string(m_value));
  ReplaceAll(text, "%m", std::to_string(m_maximum));
  return text;
}

bool ProgressDialogImpl::show(const std::string& title, const std::string& message, int minimumValue,
                              int maximumValue, int delay) {
  if (!checked("show"))
    return false;
  if (maximumValue < minimumValue) {
    SetLastError(kInvalidArgument, "The maximum value is below the minimum value.");
    return false;
  }
  if (visible())
    close(/*cancelled=*/false);
  m_title = title;
  m_message = message;
  m_minimum = minimumValue;
  m_maximum = maximumValue;
  m_value = minimumValue;
  m_cancelled = false;
  auto& dialogs = State().progressDialogs;
  if (std::find(dialogs.begin(), dialogs.end(), Ptr<ProgressDialogImpl>(this, /*attach=*/false)) ==
      dialogs.end())
    dialogs.push_back(Ptr<ProgressDialogImpl>(this, /*attach=*/false));
  if (delay > 0) {
    m_phase = Phase::Delayed;
    m_appearAt = Clock::now() + std::chrono::seconds(delay);
  } else {
    appear();
  }
  return true;
}

void ProgressDialogImpl::appear() {
  m_phase = Phase::Visible;
  m_reportedValue = m_value;
  m_reportedMessage = substituted();
  m_reportedAt = Clock::now();
  Record(TranscriptEvent{"progress_shown", {}}
             .addText("title", m_title)
             .addText("message", m_reportedMessage)
             .addNumber("minimum", m_minimum)
             .addNumber("maximum", m_maximum)
             .addNumber("value", m_value)
             .addBoolean("cancel_button", m_cancelShown)
             .addText("cancel_text", m_cancelText));
}

void ProgressDialogImpl::appearIfDue(Clock::time_point now) {
  if (m_phase == Phase::Delayed && now >= m_appearAt)
    appear();
}

void ProgressDialogImpl::reportProgress() {
  if (!visible())
    return;
  const std::string text = substituted();
  const long long moved = static_cast<long long>(m_value) - m_reportedValue;
  if (moved == 0 && text == m_reportedMessage)
    return;
  const auto now = Clock::now();
  const long long range = static_cast<long long>(m_maximum) - m_minimum;
  const bool tenth = moved != 0 && (moved < 0 ? -moved : moved) * 10 >= range;
  if (!tenth && now - m_reportedAt < std::chrono::seconds(1))
    return;
  m_reportedValue = m_value;
  m_reportedMessage = text;
  m_reportedAt = now;
  Record(TranscriptEvent{"progress", {}}.addNumber("value", m_value).addText("message", text));
}

bool ProgressDialogImpl::progressValue(int value) {
  if (!checked("progressValue"))
    return false;
  m_value = std::min(std::max(value, m_minimum), m_maximum);
  reportProgress();
  return true;
}

bool ProgressDialogImpl::message(const std::string& value) {
  if (!checked("message"))
    return false;
  m_message = value;
  reportProgress();
  return true;
}

bool ProgressDialogImpl::isCancelButtonShown(bool value) {
  if (!checked("isCancelButtonShown"))
    return false;
  m_cancelShown = value;
  return true;
}

bool ProgressDialogImpl::cancelButtonText(const std::string& value) {
  if (!checked("cancelButtonText"))
    return false;
  m_cancelText = value;
  return true;
}

void ProgressDialogImpl::close(bool cancelled) {
  const bool wasVisible = visible();
  m_phase = Phase::Hidden;
  auto& dialogs = State().progressDialogs;
  // The host's own reference may be the last one: keep the object alive to the end of this call.
  Ptr<ProgressDialogImpl> self(this, /*attach=*/false);
  dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), self), dialogs.end());
  if (!wasVisible)
    return;
  // The state the dialog went with, when the last "progress" line does not show it.
  const std::string text = substituted();
  if (m_value != m_reportedValue || text != m_reportedMessage)
    Record(TranscriptEvent{"progress", {}}.addNumber("value", m_value).addText("message", text));
  Record(TranscriptEvent{"progress_hidden", {}}.addBoolean("cancelled", cancelled));
}

bool ProgressDialogImpl::hide() {
  if (!checked("hide"))
    return false;
  close(/*cancelled=*/false);
  return true;
}

bool ProgressDialogImpl::reset() {
  if (!checked("reset"))
    return false;
  close(/*cancelled=*/false);
  m_value = m_minimum;
  m_cancelled = false;
  return true;
}

void ProgressDialogImpl::pressCancel() {
  m_cancelled = true;
  close(/*cancelled=*/true);
}

Ptr<ProgressDialog> UserInterfaceImpl::createProgressDialog() {
  if (Failing("UserInterface", "createProgressDialog"))
    return Ptr<ProgressDialog>();
  return MakeObject<ProgressDialogImpl>(AddinOwning(__builtin_return_address(0)));
}

} // namespace detail

bool PressCancel(std::string* error) {
  using namespace detail;
  const auto& dialogs = State().progressDialogs;
  // The dialog shown last is the one in front.
  for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) {
    const Ptr<ProgressDialogImpl>& dialog = *it;
    if (!dialog->visible())
      continue;
    if (!dialog->isCancelButtonShown()) {
      if (error)
        *error = "the progress dialog shows no Cancel button";
      return false;
    }
    dialog->pressCancel();
    return true;
  }
  if (error)
    *error = "no progress dialog is showing";
  return false;
}

bool ProgressDialogShowing() {
  for (const auto& dialog : detail::State().progressDialogs) {
    if (dialog->visible())
      return true;
  }
  return false;
}

} // namespace hostsim
