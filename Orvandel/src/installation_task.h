// The installation as the add-in runs it: on a worker of the bridge, so that the host's main thread
// is never held by the copy, with the host's progress dialog and its Cancel when the user asked for it.
//
// Everything here belongs on the host's main thread.
#pragma once

#include <functional>

namespace orvandel {

// Starts an installation with the places of the running system (force as InstallCzechFiles takes it).
// With withProgress, the host's progress dialog shows the files copied of the total, and its Cancel
// ends the run before its next file. onEnd runs on the main thread once the run has ended and all it
// reported has reached the host (not when stop ends it). When no worker can be had, the run happens
// at once on this thread, then onEnd. False, with nothing started and onEnd not called, while an
// installation runs.
bool StartInstallation(bool force, bool withProgress, const std::function<void()>& onEnd);
bool InstallationRunning();

} // namespace orvandel
