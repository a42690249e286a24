// The control folder: the files hostsim and its host process share, in a temporary folder per run.
#pragma once

#include <string>

namespace hostsim {

// The process id of the host process, written by it into the control folder.
constexpr const char* kHostPidFile = "host.pid";

// Creates the control folder of this hostsim in tmpFolder: "hostsim-control-" + pid + "-" + six random
// characters. Empty when it cannot be created.
std::string MakeControlFolder(const std::string& tmpFolder);

// Removes the control folders in tmpFolder that a killed hostsim left: those whose hostsim process and
// host process are both no longer running. Folders of running hostsims, and folders whose name carries
// no process id, stay. Best effort: nothing is reported.
void SweepDeadControlFolders(const std::string& tmpFolder);

} // namespace hostsim
