// The update client's work in the background: the version query, and the link query with the package
// download, each on a worker thread so that the host's main thread never waits on the network.
//
// Everything here is called on the host's main thread. The workers call no host function but
// Application::fireCustomEvent; what they found comes back through custom events whose handlers, on
// the main thread, log, show and ask.
#pragma once

#include <string>

// Starts the version query in the background; when it ends, FinishVersionCheck runs on the main
// thread. False when the host refuses the custom event or no thread can be made.
bool StartVersionCheck(const std::string& versionFile, const std::string& serverBaseUrl);

// Starts the link query and the download of the package for download identifier id into
// home/Downloads (checked against teamId when it is not empty), with the host's progress dialog and its
// Cancel button. The outcome is reported (ReportPackageDownload) on the main thread when the worker is done;
// Cancel, pressed at any moment before the dialog goes (the signature check included), ends the worker's
// step, removes the partial file, keeps the previous package and reports nothing. False, with nothing
// started, while a download runs.
bool StartDownload(const std::string& serverBaseUrl, const std::string& id, const std::string& home,
                   const std::string& teamId);
// True from StartDownload until its outcome has been reported.
bool DownloadRunning();

// For stop: tells the workers to end, joins them (within 2 s when the transfers end as they should),
// hides the progress dialog and unregisters the custom events, so that nothing of the update client
// runs or is queued after it returns. Results not yet reported are dropped.
void StopUpdateTasks();
