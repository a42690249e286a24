// Copies that never leave a half-written file under the real name: each file goes to a temporary file
// in the target folder and is renamed over the target. A copied file keeps the source's modification
// time and permission bits, so the next run compares package against package.
//
// A copy that fails returns false and fills the Failure with the path (for a data copy, source as path
// and target as target) and the system's code or a CopyError; what was copied before the failure stays.
#pragma once

#include <failure.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <system_error>

namespace filecopy {

// Errors of the copy's own making, distinct from the system's: a link in the source that leads back
// into a folder being copied (the system's own "too many levels of symbolic links" means a link chain
// that resolves nowhere, such as a link to itself), and a copy that its caller ended between two files.
enum class CopyError { linkLoop = 1, stopped };
const std::error_category& CopyErrorCategory();
std::error_code make_error_code(CopyError error);

// What a copy placed at its target: a folder it creates (told just before it is made, in a folder that
// exists), or a file it copied there or found there exactly as it would copy it (the source's size and
// modification time). status is the file's as it stands after the copy (null for a folder).
struct Placed {
  enum class Kind { file, folder };
  Kind kind;
  std::string path; // the target path
  const struct stat* status;
};
// Told of every entry a copy placed, as it places it. A copy that finds its target up to date and
// different from the source (newer) tells nothing of that file.
using CopyObserver = std::function<void(const Placed&)>;
// Asked before each file of a folder copy; false ends the copy there (CopyError::stopped), with every
// file before it whole and none after it begun.
using BetweenFiles = std::function<bool()>;

// Copies source to target when target is missing or older than source. A link at the target is
// replaced, never written through; an equal or newer target is kept. Links in source are followed.
bool CopyFileUpdating(const std::string& source, const std::string& target, Failure& failure,
                      const CopyObserver& observer = nullptr);

// Copies every entry of the source folder into the target folder under the same name, sub-folders
// recursively, each file by the rule of CopyFileUpdating. A missing target folder is created (its
// parent must exist); nothing at the target is deleted. Links in the source are followed; one that
// leads back into a folder being copied is an error (CopyError::linkLoop) instead of an endless descent.
// Files other than regular ones and folders are an error. An entry of the source folder itself named heldBack
// (when not empty) is left out. betweenFiles (when set) is asked before each file.
// The copy keeps a bounded number of descriptors open whatever the depth of the source; folders are
// opened by their paths.
bool CopyFolderUpdating(const std::string& source, const std::string& target, Failure& failure,
                        const std::string& heldBack = "", const CopyObserver& observer = nullptr,
                        const BetweenFiles& betweenFiles = nullptr);

} // namespace filecopy

namespace std {
template <> struct is_error_code_enum<filecopy::CopyError> : true_type {};
} // namespace std
