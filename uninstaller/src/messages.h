// The program's texts for the user: Czech in UTF-8, as Terminal on a Mac shows it. Every path is printed
// as one shell word (ShellWord), so that it pastes into Terminal whole.
#pragma once

#include "removal.h"

#include <ostream>
#include <string>
#include <system_error>

namespace uninstaller {

// The reason for the user: in Czech for the system's errors (a folder that rmdir finds not empty among
// them), else the code's own text.
std::string UninstallReason(const std::error_code& code);

// path as one word for a POSIX shell: in double quotes, or in single quotes when it holds a character
// that double quotes leave active ($, `, \, ", !); a leading "~/" stays outside the quotes, so that the
// shell still expands it to the home folder.
std::string ShellWord(const std::string& path);

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
