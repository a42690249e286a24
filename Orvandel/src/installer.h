// The installation run: copies the Czech files of the localization data package into the host bundle,
// removes those that earlier package versions left in other host builds, switches the host to Czech and
// reports every stage in the host's log.
#pragma once

#include "file_copy.h"
#include "worker_bridge.h"

#include <cstdint>
#include <functional>
#include <string>

// Where an installation run looks. SystemInstallPlaces gives those of the running system; tests give
// their own.
struct InstallPlaces {
  std::string packageRoot;         // the data package ("/Library/Vornid" on the Mac)
  std::string home;                // the user's home folder; empty when unknown
  std::string executableDirectory; // folder of the running host executable
  // The install record (what the runs placed into the host bundle) in the language add-in's folder;
  // empty when that folder is unknown, and then none is kept.
  std::string installRecord;
};

// The package root, the user's home (HOME, else the user database), the host executable's folder and
// the install record in the language add-in's folder found from it.
InstallPlaces SystemInstallPlaces();

// How a caller follows a run: betweenFiles is asked (on the run's thread) before each file it copies,
// and false ends the run there; beforeMessage runs on the main thread before each message box.
struct InstallHooks {
  filecopy::BetweenFiles betweenFiles;
  std::function<void()> beforeMessage;
};

// One installation attempt as a job of the worker bridge: its log lines, message boxes and the
// language preference reach the host through context, in this order, and the run waits for the
// language to be set. With force false nothing is done while the Czech files are in place. Throws
// nothing: a file-system error ends the run at its step and is logged and shown to the user; a run
// asked to end stops before its next file, logs that, and shows nothing; so does a run whose context
// answers no when asked, right before the marker, whether it may go on (the user's Cancel). A package
// folder that is missing, or goes away during its copy, is shown once with the source-missing message,
// and the run places no marker and shows no success, so that the next start completes it. Every file
// the run copies into the host bundle, or finds there as it would copy it, and every folder it creates
// there is on the install record before it lands (before the marker, for a file found in place); a
// record that cannot be written ends the run as a file-system error does.
void InstallCzechFiles(bool force, const InstallPlaces& places, workerbridge::JobContext& context,
                       const InstallHooks& hooks);

// How many files a run with these places copies at most: the regular files below the package's
// folders and the host's help pages that are copied to Czech ones. Unreadable folders count nothing.
std::uint64_t FilesToCopy(const InstallPlaces& places);

// Removes the Czech files of the older bundle from every build folder in productionFolder (which ends
// with the separator) but the running build's, the entry named exactly currentBuild; entries that are
// links are passed over. What is absent, or vanishes while it is removed (another host cleaning the same
// builds), is no error. False with the failure that stopped the removal.
bool RemoveFromOldDestination(const char* productionFolder, const std::string& currentBuild,
                              Failure& failure);

// The production folder and the running build's name from the host executable's folder: the text up
// to and including the separator after the last component named exactly "production" that a further
// component (the build's name) follows, and that name. Components end at '/' or '\\'. False when
// there is no such component.
bool FindProductionFolder(const std::string& executableDirectory, std::string& productionFolder,
                          std::string& currentBuild);
