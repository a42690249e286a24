// The files the installer placed into the current host bundle: as its install record lists them, or,
// without a record, as the data package and the package's known Czech places tell them.
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
bool PlanBundleFiles(const StartFolder& production, const std::string& bundleName,
                     const std::string& recordPath, Plan& plan, Failure& failure);

// Without a record: plans each file of the bundle that is byte for byte the data package's file
// (packageRoot) for that place, then the package's folders there that hold nothing but what the plan
// removes; the Czech help pages made from the host's own (cz-html.html, the tree cz-html); and, for a
// source folder the data package no longer holds, the package's known Czech place it fills (the string
// table's and the QM folder's cs-CZ trees, the CAM marker czech_cz.xml). A file that differs from the
// package's stays and is named.
bool DiscoverBundleFiles(const StartFolder& production, const std::string& bundleName,
                         const std::string& packageRoot, Plan& plan, Failure& failure);

} // namespace uninstaller
