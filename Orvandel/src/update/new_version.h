// The new-version notice: a button in the quick-access toolbar that asks the user and, on Yes,
// downloads the newest installer package into the Downloads folder.
#pragma once

#include "http_fetch.h"

#include <Core/CoreAll.h>

#include <string>

// The button's command definition and control id, and the toolbar that holds it (stop removes both).
constexpr const char* kNewVersionCommandId = "newVerAddIn";
constexpr const char* kNewVersionToolbarId = "QATRight";

// Puts the "newVerAddIn" button before the user-name control of "QATRight". Does nothing without that
// toolbar. The definition is created before the control is looked for, so while a definition of that
// id exists the host refuses it and checkReturn shows the host's error; a control already in the
// toolbar is not added twice.
void NewVersionUI();

// "K dispozici je nová verze ..." with the offered and the installed version, three lines.
std::string NewVersionQuestion(const std::string& offered, const std::string& installed);

// Asks the server for the package address and downloads the package to
// ~/Downloads/Orvandel-installer.pkg in the background, with the host's progress dialog, then tells
// the user the outcome in one message. The previous package stays byte for byte unless a complete
// installer package (signed by the build's team, when one is set) replaces it; the new one carries
// the quarantine attribute.
void downloadLatestVersion();

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
// tells the user the outcome in one message.
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
// All three at once, with the server origin, the home folder and the signing team as parameters.
// home empty: HOME is not set; nothing is downloaded and the user is told so. teamId empty: no
// signature check.
void DownloadLatestVersionTo(const std::string& serverBaseUrl, const std::string& home,
                             const std::string& teamId);

namespace orvandel {

class QuickCmdCreatedEventHandler final : public adsk::core::CommandCreatedEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override;
};

class QuickCmdExecuteEventHandler final : public adsk::core::CommandEventHandler {
public:
  void notify(const adsk::core::Ptr<adsk::core::CommandEventArgs>& eventArgs) override;
};

extern QuickCmdCreatedEventHandler _quickCmdCreated;
extern QuickCmdExecuteEventHandler _quickCmdExecute;

} // namespace orvandel
