// The language add-in's reach into the host: its two module-level handles, the check that follows a
// host call, and the log-line convention. Every part of the add-in goes through these.
#pragma once

#include <Core/CoreAll.h>

#include "exception_boundary.h"

#include <string>

namespace orvandel {

// Set by run; ui is made empty by stop, app stays set.
extern adsk::core::Ptr<adsk::core::Application> app;
extern adsk::core::Ptr<adsk::core::UserInterface> ui;

} // namespace orvandel

// True for a non-empty handle. For an empty one shows the host's last error text in a message box
// (empty title, OK, no icon) when both app and ui are set, and returns false.
bool checkReturn(const adsk::core::Ptr<adsk::core::Base>& result);

// Shows text in the host's modal message box and returns the user's answer; DialogError without a
// user interface (before run, after stop), when there is no one to tell. The add-in's own reports are
// ShowMessageBox(text): empty title, OK, no icon.
adsk::core::DialogResults ShowMessageBox(const std::string& text, const std::string& title = std::string(),
                                         adsk::core::MessageBoxButtonTypes buttons = adsk::core::OKButtonType,
                                         adsk::core::MessageBoxIconTypes icon = adsk::core::NoIconIconType);

// The host's progress dialog with its Cancel button "Zrušit", as a background job shows it: what the
// main thread has seen of its Cancel, and its one teardown. Main thread only. Every instance has static
// storage duration, so that stop can take them all down (CloseAll).
class CancellableProgress {
public:
  // onCancel runs at each check that finds Cancel pressed: it asks the job to end its step.
  explicit CancellableProgress(void (*onCancel)()) noexcept;
  ~CancellableProgress();
  CancellableProgress(const CancellableProgress&) = delete;
  CancellableProgress& operator=(const CancellableProgress&) = delete;

  // Shows the dialog with title and message, 0 to 100, at once. Without a dialog from the host the
  // work goes on without one, and no Cancel is ever seen.
  void Show(const std::wstring& title, const std::wstring& message);
  bool Shown() const { return static_cast<bool>(m_dialog); }
  // True once the user pressed Cancel (and from then on until Close); onCancel has run.
  bool Cancelled();
  // Shows message, then moves the bar to percent (0 to 100; a negative value leaves it). Does nothing
  // without a dialog or after a Cancel.
  void Update(const std::wstring& message, int percent = -1);
  // Takes the dialog down and forgets a Cancel seen.
  void Close();
  // For stop, once the workers have ended: closes every dialog.
  static void CloseAll();

private:
  adsk::core::Ptr<adsk::core::ProgressDialog> m_dialog;
  bool m_cancelled = false;
  void (*m_onCancel)();
  CancellableProgress* m_next;
};

// "QUORLEX: " + message, at level 2 type 0 unless told otherwise.
void LogLine(const std::string& message, adsk::core::LogLevels level = adsk::core::InfoLogLevel);
// "QUORLEX: (" + routine + ")" + message; message begins with its own blank.
void LogRoutine(const std::string& routine, const std::string& message);

// The add-in's own folder in the host's add-in tree, found from a path inside the host's installation
// (callers pass GetExecutableDirectory()); no trailing separator. Empty when the path holds no
// "Autodesk", as then the folder is unknown.
std::string GetAddinLocation(const std::string& path);

// The wall between the add-in and the host: runs work and returns its result; an exception that
// escapes it is logged as "QUORLEX: (where) stopped by an error: ..." and gives failed instead. The
// host never sees an exception.
template <class Work> auto Guarded(const char* where, Work work, decltype(work()) failed) noexcept {
  return CallGuarded(work, failed, [where](const char* what) {
    LogLine(std::string("(") + where + ") stopped by " +
            (what ? std::string("an error: ") + what : std::string("an unknown error")));
  });
}
