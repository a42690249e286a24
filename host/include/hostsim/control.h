// Control side of the in-memory host (libhost): configures it, drives its events and reads what it
// recorded. Used by hostsim and by tests; product code never includes this header.
//
// Everything a user or the host would see becomes one transcript event, in order. All functions belong
// on the host's main thread, like the host's own calls (WaitForCustomEvents and QueuedCustomEvents may
// be called from any thread); none of them throws.
#pragma once

#include <Core/CoreAll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#define HOSTSIM_API __attribute__((visibility("default")))

namespace hostsim {

// One value of a transcript event.
struct HOSTSIM_API Field {
  enum class Kind { Text, Number, Boolean, TextList };
  std::string key;
  Kind kind = Kind::Text;
  std::string text;
  long long number = 0;
  bool boolean = false;
  std::vector<std::string> list;
};

// One thing a user or the host would see. `type` is the `event` key of the --jsonl output
// ("addin", "log", "messagebox", "definition_added", ...); fields keep their order.
struct HOSTSIM_API TranscriptEvent {
  std::string type;
  std::vector<Field> fields;

  const Field* find(const std::string& key) const;
  // Empty text, 0 or false when the key is absent.
  std::string text(const std::string& key) const;
  long long number(const std::string& key) const;
  bool boolean(const std::string& key) const;
  std::vector<std::string> list(const std::string& key) const;

  TranscriptEvent& addText(const std::string& key, const std::string& value);
  TranscriptEvent& addNumber(const std::string& key, long long value);
  TranscriptEvent& addBoolean(const std::string& key, bool value);
  TranscriptEvent& addList(const std::string& key, const std::vector<std::string>& value);
};

// One readable line, Czech text as UTF-8, enumerations as number and name.
HOSTSIM_API std::string FormatReadable(const TranscriptEvent& event);
// True for the host's plumbing rather than what a user sees (a delivered custom event): the readable
// transcript leaves it out unless hostsim runs with --verbose, --jsonl always has it.
HOSTSIM_API bool IsPlumbing(const TranscriptEvent& event);
// One JSON object on one line, with the key "event" first.
HOSTSIM_API std::string FormatJson(const TranscriptEvent& event);
// The length of the well-formed UTF-8 sequence at text[at], or 0 when the byte there starts none
// (overlong forms, surrogates and code points above U+10FFFF are not well formed).
HOSTSIM_API size_t Utf8SequenceLength(const std::string& text, size_t at);

// --- The host as a whole ---------------------------------------------------------------------

// Puts the host back into the state of a fresh process: default toolbars and panels, no definitions,
// palettes, failures, queued answers or transcript; online, English. Add-ins must be unloaded first.
HOSTSIM_API void ResetHost();

// --- Add-ins ---------------------------------------------------------------------------------

// Loads the add-in library from an add-in folder (the library is named after the folder: the first of
// NAME/NAME.so, NAME/NAME.dylib and NAME/libNAME.so that loads) and calls its `run`. Records an "addin"
// event. False with a reason in *error when the library does not load or lacks the entry points; the result
// of `run` itself is recorded, not returned (see *runResult).
HOSTSIM_API bool LoadAddin(const std::string& folder, bool* runResult, std::string* error);
// Calls `stop` of a loaded add-in, records it, then unloads the library.
HOSTSIM_API bool UnloadAddin(const std::string& name, bool* stopResult, std::string* error);
HOSTSIM_API std::vector<std::string> LoadedAddins();

// --- Configuration ---------------------------------------------------------------------------

HOSTSIM_API bool RemoveToolbar(const std::string& id);
HOSTSIM_API bool RemovePanel(const std::string& id);
// Makes every later call of the named host operation fail with the given last-error text. A name is a
// member ("addButtonDefinition", "itemById", "add") or a qualified member ("Toolbars.itemById");
// "get" makes Application::get return an empty handle.
HOSTSIM_API void FailCall(const std::string& call, const std::string& errorText);
HOSTSIM_API void ClearFailures();
// Sets the online status without raising the status-changed event (the state the host starts in).
HOSTSIM_API void SetOfflineState(bool offline);
// Sets the online status and raises the status-changed event, as the host does when it changes.
HOSTSIM_API void ReportOnlineStatus(bool offline);
// Sets the host's user-interface language preference (as a user would in the host's settings).
HOSTSIM_API void SetLanguage(adsk::core::UserLanguages language);
HOSTSIM_API adsk::core::UserLanguages Language();
// The answer of Application::executeTextCommand for one command; other commands answer "".
HOSTSIM_API void SetTextCommandAnswer(const std::string& command, const std::string& answer);
// The text command whose answer is the user's entitlement, and a setter for that answer.
HOSTSIM_API extern const char* const kEntitlementTextCommand;
HOSTSIM_API void SetEntitlementText(const std::string& text);
// Answers for the next message boxes, in order. An unqueued box gets OK, or No for a Yes/No box.
HOSTSIM_API void QueueAnswers(const std::vector<adsk::core::DialogResults>& answers);

// --- Events ----------------------------------------------------------------------------------

// A click on a command's control: the host creates a command, raises its command-created event and
// then, unless a created handler set nothing to run, its execute event. False with a reason when no
// definition has that id.
HOSTSIM_API bool ClickCommand(const std::string& id, std::string* error);
// A message from the page in a palette (adsk.fusionSendData(action, data)).
HOSTSIM_API bool SendHtml(const std::string& paletteId, const std::string& data, const std::string& action,
                          std::string* error);

// --- Idle time: custom events and progress dialogs ------------------------------------------------

// The host is idle: puts up progress dialogs whose delay has passed, then delivers, in order, the custom
// events queued when the call began (each as a "custom_event" event, then its handlers). Events fired
// meanwhile wait for the next call. Returns how many were taken from the queue.
HOSTSIM_API size_t DeliverCustomEvents();
// Blocks until a custom event is queued or the timeout passes; true when one is queued. Delivers nothing.
HOSTSIM_API bool WaitForCustomEvents(std::chrono::milliseconds timeout);
HOSTSIM_API size_t QueuedCustomEvents();
// The user presses Cancel on the progress dialog in front. False with a reason when no dialog is on the
// screen or it shows no Cancel button.
HOSTSIM_API bool PressCancel(std::string* error);
HOSTSIM_API bool ProgressDialogShowing();

// After every call into an add-in (run, stop, each handler's notify) records a "handler" event with the
// add-in's name, what was called and the wall time it took ("ms", and "us" in microseconds).
HOSTSIM_API void SetTimings(bool on);

// --- What the host recorded --------------------------------------------------------------------

HOSTSIM_API std::vector<TranscriptEvent> Transcript();
HOSTSIM_API void ClearTranscript();
// Called with every event as it is recorded (before the call that caused it returns).
HOSTSIM_API void SetTranscriptListener(std::function<void(const TranscriptEvent&)> listener);
// Adds an event from outside the host (an address opened, a program run, a hostsim error).
HOSTSIM_API void RecordEvent(const TranscriptEvent& event);

HOSTSIM_API std::vector<std::string> LogMessages();
HOSTSIM_API bool HasDefinition(const std::string& id);
HOSTSIM_API std::string DefinitionResourceFolder(const std::string& id);
// Control ids of a toolbar or panel, in their order; empty when the parent does not exist.
HOSTSIM_API std::vector<std::string> ControlIds(const std::string& parentId);
HOSTSIM_API bool HasPalette(const std::string& id);
HOSTSIM_API bool PaletteVisible(const std::string& id);
HOSTSIM_API std::string PaletteUrl(const std::string& id);
// A readable description of the whole host state, several lines (the script's `state`).
HOSTSIM_API std::string DescribeState();

} // namespace hostsim
