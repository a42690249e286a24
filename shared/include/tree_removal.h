// Removal by handle. A folder is opened once (O_DIRECTORY | O_NOFOLLOW) and its entries are removed
// relative to it (unlinkat, openat with O_NOFOLLOW): no path string below the trusted start is handed to
// the system, and no link is ever followed. Whoever swaps a folder for a link while a run goes on stops
// the run at that entry; the run cannot be redirected to what the link points to.
#pragma once

#include "failure.h"
#include "file.h"
#include "unique_handles.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace removal {

// The entry to remove, when it is a symbolic link.
enum class AtLink {
  kRemoveLink, // the link itself goes; what it points to is never touched
  kStop,       // the run stops there (ELOOP): the caller expects a real folder
};

// What stands at a place, looked at without following any link.
enum class EntryKind {
  kAbsent,     // nothing, or a plain file where one of the folders on the way would be
  kBehindLink, // a folder on the way is a symbolic link
  kLink,
  kFolder,
  kOther, // a file, or any other kind of entry
};

// Opens start as given (a path the caller trusts), then each '/'-separated component of relative below
// it with O_DIRECTORY | O_NOFOLLOW. An empty relative opens start itself. A missing component or a plain
// file on the way fails with ENOENT or ENOTDIR, a link on the way with ELOOP.
bool OpenFolderBelow(const std::string& start, const std::string& relative, UniqueFd& folder,
                     Failure& failure);

// The same below the open folder start (startPath names it in reports); an empty relative gives a
// descriptor of start's own.
bool OpenFolderBelow(int start, const std::string& startPath, const std::string& relative, UniqueFd& folder,
                     Failure& failure);

// Opens the sub-folder name of the open folder parent without following a link (ELOOP for a link).
bool OpenFolderAt(int parent, const std::string& name, const std::string& path, UniqueFd& folder,
                  Failure& failure);

// What is at start + "/" + relative (relative not empty); info is the entry's own lstat when it exists.
// A missing start holds nothing (kAbsent).
bool ExamineBelow(const std::string& start, const std::string& relative, EntryKind& kind, struct stat& info,
                  Failure& failure);
bool ExamineBelow(int start, const std::string& startPath, const std::string& relative, EntryKind& kind,
                  struct stat& info, Failure& failure);

// Removes the entry name of the open folder parent and, for a folder, everything in it, depth first,
// each sub-folder opened relative to its parent. Links inside the tree are removed as links; atLink
// says what becomes of the entry itself when it is one. A sub-folder replaced (by a link or any other
// entry) between being looked at and being opened stops the run at it. An entry that vanishes meanwhile
// is no error. path names the entry in reports. One descriptor is open per level of depth.
bool RemoveTreeAt(int parent, const std::string& name, const std::string& path, AtLink atLink,
                  Failure& failure);

// Removes the entry name of parent alone: a file, a link, or a folder only when it is empty. An absent
// entry is no error.
bool RemoveEntryAt(int parent, const std::string& name, const std::string& path, Failure& failure);

// The same for the entry at start + "/" + relative, its parent opened with OpenFolderBelow. A missing
// parent (or a plain file on the way) means there is nothing to remove; a link on the way stops the run.
bool RemoveTreeBelow(const std::string& start, const std::string& relative, AtLink atLink, Failure& failure);
bool RemoveEntryBelow(const std::string& start, const std::string& relative, Failure& failure);
// The same below the open folder start, which a caller keeps from looking to removing.
bool RemoveTreeBelow(int start, const std::string& startPath, const std::string& relative, AtLink atLink,
                     Failure& failure);
bool RemoveEntryBelow(int start, const std::string& startPath, const std::string& relative, Failure& failure);

} // namespace removal
