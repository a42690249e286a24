// The download of the newest installer package into the Downloads folder: the link query, the
// package, its checks, the host's progress dialog with its Cancel, and the one message that tells the
// user the outcome. The transfer and the checks run on a worker of the bridge; the dialog, the
// placing of the package and the message on the host's main thread.
#pragma once

#include "http_fetch.h"

#include <string>

// Starts the link query and the download of the package for download identifier id into
// home/Downloads (checked against teamId when it is not empty), with the host's progress dialog and its
// Cancel button. The outcome is reported (ReportPackageDownload) on the main thread when the worker is
// done; Cancel, pressed at any moment before the dialog goes (the signature check included), ends the
// worker's step, removes the partial file, keeps the previous package and reports nothing. A stop of the
// bridge's workers before the end is reported drops the package unplaced. False, with nothing started,
// while a download runs or when no worker can be had. Main thread only, as is the one below.
bool StartDownload(const std::string& serverBaseUrl, const std::string& id, const std::string& home,
                   const std::string& teamId);
// True from StartDownload until its outcome has been reported.
bool DownloadRunning();

// What the package check found, for the message and the log. Stopped: the worker was told to stop
// during the check; nothing is placed and nothing reported.
enum class PackageVerdict { Accepted, NotAPackage, SignatureUnchecked, SignatureRefused, Stopped };
struct PackageCheck {
  PackageVerdict verdict = PackageVerdict::Accepted;
  std::string reason;      // English, for the log
  int quarantineError = 0; // errno when the accepted package could not be marked as downloaded
};

// The download in three parts. DownloadPackage calls no host function and runs on a worker: the link
// query, then (with HOME) the package and its check, each step ended early once packageProgress
// returns false (a stop request), which packageProgress is also asked during the signature check. An
// accepted package stays beside the target under a temporary name. PlacePackage, on the main thread,
// puts it in place; a PackageDownload dropped unplaced removes it, so that a Cancel or a stop seen
// before PlacePackage keeps the previous package. ReportPackageDownload, on the main thread, logs and
// tells the user the outcome in one message. home empty: HOME is not set; nothing is downloaded and the
// user is told so. teamId empty: no signature check.
struct PackageDownload {
  std::string linkUrl;
  TextFetch link;
  std::string address;    // the package address taken from the link answer
  bool attempted = false; // the package was asked for (false after a failed link query or without HOME)
  FileFetch file;
  PackageCheck check;
};
PackageDownload DownloadPackage(const std::string& serverBaseUrl, const std::string& id,
                                const std::string& home, const std::string& teamId,
                                const TransferProgress& linkProgress = nullptr,
                                const TransferProgress& packageProgress = nullptr);
void PlacePackage(PackageDownload& download);
void ReportPackageDownload(const PackageDownload& download);
