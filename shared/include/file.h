// Files as the system sees them: what is at a path, a whole file read with a bound, the names in a
// folder. Each returns a result its caller must look at; those that can fail for more than one reason
// return bool and fill a Failure (failure.h).
#pragma once

#include "failure.h"

#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

// What is at a path.
enum class EntryType {
  kMissing, // nothing (ENOENT), or a plain file where a folder of the path would be (ENOTDIR)
  kRegularFile,
  kFolder,
  kLink,    // only from LstatType
  kOther,   // a pipe, a socket, a device
  kUnknown, // the system cannot tell: no right to search a folder of the path, a loop of links, ...
};

// What stands at path itself; a link there is kLink, never followed (lstat).
[[nodiscard]] EntryType LstatType(const std::string& path);
// What path leads to, links followed (stat): a dangling link is kMissing.
[[nodiscard]] EntryType StatType(const std::string& path);

// True when an entry of any kind exists at path; links are followed, so a dangling link is missing.
[[nodiscard]] bool FileExists(const std::string& path);
// True when path opens as a directory.
[[nodiscard]] bool DirectoryExists(const std::string& path);

// Why a file that exists is not read, beside the system's errno values (FileCategory()).
enum class FileError { kNotRegularFile = 1, kTooLarge };
const std::error_category& FileCategory();
std::error_code make_error_code(FileError error);

// The whole content of the file at path (links followed), when it is a regular file of at most limit
// bytes: anything else there (a folder, or a pipe, which is never waited for) fails with
// kNotRegularFile, a larger file, also one that grows past limit while it is read, with kTooLarge.
// Otherwise false with the system's errno (ENOENT for a missing file). content is left as it was unless
// the read succeeds.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                                 Failure& failure);

// The names of the entries of the open folder ("." and ".." left out), in the order the system lists
// them, appended to names; path names the folder in reports. The descriptor stays the caller's.
[[nodiscard]] bool ListFolder(int folder, const std::string& path, std::vector<std::string>& names,
                              Failure& failure);
// The same for the folder at path (links followed).
[[nodiscard]] bool ListFolder(const std::string& path, std::vector<std::string>& names, Failure& failure);

namespace std {
template <> struct is_error_code_enum<FileError> : true_type {};
} // namespace std
