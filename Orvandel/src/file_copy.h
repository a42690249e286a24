// Copies that never leave a half-written file under the real name: each file goes to a temporary file
// in the target folder (or the journal's staging folder) and is renamed over the target. A copied file keeps
// the source's modification time and permission bits, so the next run compares package against package.
//
// A copy that fails returns false and fills the Failure with the path (for a data copy, source as path
// and target as target) and the system's code or a CopyError; what was copied before the failure stays.
#pragma once

#include <failure.h>

#include <sys/stat.h>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace filecopy {

// Errors of the copy's own making, distinct from the system's: a link in the source that leads back
// into a folder being copied (the system's own "too many levels of symbolic links" means a link chain
// that resolves nowhere, such as a link to itself), and a copy that its caller ended between two files.
enum class CopyError { linkLoop = 1, stopped };
const std::error_category& CopyErrorCategory();
std::error_code make_error_code(CopyError error);

// A file a copy places or finds at its target: the target path and the file's status there (for a file
// about to replace its target, the status it will have: the source's size and modification time).
struct Placed {
  std::string path;
  struct stat status;
};

// Keeps account of what copies place, so that each entry is on record before it lands (all calls on the
// copying thread). A false answer, with failure set, ends the copy before the entry lands.
class CopyJournal {
public:
  virtual ~CopyJournal() = default;
  // A folder the copy is about to create, in a folder that exists.
  virtual bool CreatingFolder(const std::string& path, Failure& failure) = 0;
  // A file found at its target exactly as the copy would make it (the source's size and time).
  virtual void FoundInPlace(const Placed& file) = 0;
  // Files whose temporaries are complete and about to be renamed over their targets; whatever stood
  // at each target has been removed already, so that a kill from here on leaves each target missing
  // or as told.
  virtual bool Replacing(const std::vector<Placed>& files, Failure& failure) = 0;
  // A folder open for the copies' temporaries, on the file system of the targets, or -1 for none
  // (each temporary then waits beside its target): one whose removal takes every temporary a kill
  // left along with it. A target on another file system has its temporaries beside it.
  virtual int StagingFolder() { return -1; }
};

// Asked before each file of a folder copy; false ends the copy there (CopyError::stopped), with every
// file before it whole and none after it begun.
using BetweenFiles = std::function<bool()>;

// Copies source to target when target is missing or older than source. A link at the target is
// replaced, never written through; an equal or newer target is kept. Links in source are followed.
// With a journal, the target is removed before the journal hears of its replacement.
bool CopyFileUpdating(const std::string& source, const std::string& target, Failure& failure,
                      CopyJournal* journal = nullptr);

// Copies every entry of the source folder into the target folder under the same name, sub-folders
// recursively, each file by the rule of CopyFileUpdating. A missing target folder is created (its
// parent must exist); nothing at the target is deleted. Links in the source are followed; one that
// leads back into a folder being copied is an error (CopyError::linkLoop) instead of an endless descent.
// Files other than regular ones and folders are an error. An entry of the source folder itself named heldBack
// (when not empty) is left out. betweenFiles (when set) is asked before each file.
// With a journal, the files of a folder are replaced in batches: the temporaries of a batch are made,
// the batch's targets removed, the journal told, and then the temporaries renamed; a copy that is
// stopped or fails renames the batch made so far first.
// The copy keeps a bounded number of descriptors open whatever the depth of the source; folders are
// opened by their paths.
bool CopyFolderUpdating(const std::string& source, const std::string& target, Failure& failure,
                        const std::string& heldBack = "", CopyJournal* journal = nullptr,
                        const BetweenFiles& betweenFiles = nullptr);

} // namespace filecopy

namespace std {
template <> struct is_error_code_enum<filecopy::CopyError> : true_type {};
} // namespace std
