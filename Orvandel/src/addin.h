// The language add-in's frame: the "Aktivace CZ" button, the handlers that turn the host's events into
// installation runs and the version check, and the bodies of the exported entry points (addin_entry.h
// states the contract they keep). Everything here runs on the host's main thread: the installation runs
// on a worker of the bridge (installation_task.h, worker_bridge.h), as do the version check and the
// download (update/version_check.h, update/package_download.h), and stop joins them all before it returns.
#pragma once

#include <Core/CoreAll.h>

namespace orvandel {

// Set at the first online notification after load; only a fresh load of the library clears it.
extern bool online4FirstTime;

// A click on "Aktivace CZ": the host created the command; attaches the execute handler to it.
class ActivationCmdCreatedEventHandler final : public adsk::core::CommandCreatedEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override;
};

// The command of "Aktivace CZ" runs: an installation with force true and the progress dialog; while
// an installation runs, a message box says so instead.
class ActivationCmdExecuteEventHandler final : public adsk::core::CommandEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandEventArgs>& eventArgs) override;
};

// The host's online status changed: the first time it is online, an installation with force false and,
// once it has ended, the version check.
class OnlineStatusChangedHandler final : public adsk::core::ApplicationEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::ApplicationEventArgs>& eventArgs) override;
};

extern ActivationCmdCreatedEventHandler _activationCmdCreated;
extern ActivationCmdExecuteEventHandler _activationCmdExecute;
extern OnlineStatusChangedHandler onlineStatusChangedHandler_;

// The bodies of run and stop. RunAddin sets app and ui, attaches the online handler and adds the button;
// true when the button and its command handler are in place. StopAddin ends and joins the bridge's workers,
// takes the installation's and the download's progress dialogs down, removes both buttons
// and their definitions and empties ui; false when a toolbar lookup failed.
bool RunAddin(const char* context) noexcept;
bool StopAddin(const char* context) noexcept;

} // namespace orvandel
