// The program's texts for the user: Czech without diacritics, since Terminal encodings vary.
#pragma once

#include "removal.h"

#include <ostream>
#include <string>
#include <system_error>

namespace uninstaller {

// The reason for the user: in Czech for the common failures, else the system's own text.
std::string CzechReason(const std::error_code& code);

// The report of the failed operation that ended a run: the entry, what was tried and why it failed,
// and how to finish. While removing, a refusal by macOS inside an app bundle gets the App Management
// advice instead. removing is false while nothing has been removed yet (planning, dry run).
void WriteFailure(std::ostream& err, const Failure& failure, bool removing);

// True when path lies inside an app bundle ("/NAME.app/" among its folders).
bool IsInsideAppBundle(const std::string& path);

// What no program outside the host can undo: the host's language preference, and the data package
// when packageRoot exists (named by its macOS path, with the administrator's command); and what is the
// user's to remove: the installer package the add-in downloaded into downloads, when it is there.
void WriteNotes(std::ostream& out, const std::string& packageRoot, const std::string& downloads);

} // namespace uninstaller
