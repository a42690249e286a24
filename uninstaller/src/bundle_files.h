// The files the installer placed into the current host bundle, as its install record lists them.
#pragma once

#include "removal.h"

#include <string>

namespace uninstaller {

// Plans, from the record at recordPath (a missing record lists nothing), each recorded file of the bundle
// production + bundleName that still matches its record (a regular file of the recorded size and
// modification time, reached from the production folder without passing a link), then the recorded
// folders, deepest first, that hold nothing but what the plan removes. A recorded file that differs is
// kept and named; what is gone already is passed over. False with failure set when the record cannot be
// read or an entry cannot be examined.
bool PlanBundleFiles(const std::string& production, const std::string& bundleName,
                     const std::string& recordPath, Plan& plan, Failure& failure);

} // namespace uninstaller
