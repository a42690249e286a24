// Paths as text: split and joined without asking the system. Paths are narrow UTF-8 strings, passed to
// the system as they are; '/' is the separator (DirectoryOf alone also takes '\\').
#pragma once

#include <string>

// Everything before the last '/' or '\\' of path; empty when there is none.
std::string DirectoryOf(const std::string& path);
// The folder part of path as the system reads it, up to its last '/': "." for a bare name, "/" for a
// name in the root. A '\\' is part of a name.
std::string FolderOf(const std::string& path);
// The last component of path: everything after the last '/' ("" for a path ending in '/').
std::string NameOf(const std::string& path);

// path without the '/' at its end; a path that is only separators keeps its first ("/").
std::string WithoutTrailingSlashes(std::string path);
// name in folder: one '/' between them, whatever folder ended with ("/" and "x" give "/x"); name alone
// when folder is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

// The parent part and the last name of a relative path, the '/' at its end ignored: "a/b/c/" gives "a/b"
// and "c", "c" gives "" and "c".
struct PathSplit {
  std::string parent;
  std::string name;
};
PathSplit SplitLastName(const std::string& path);
