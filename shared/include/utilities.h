// Routines shared by the deliverables. Each lives in its own source file, so a deliverable links only
// the ones it calls. Paths are narrow UTF-8 strings, passed to the system as they are.
#pragma once

#include <string>

// Folder of the running process's main executable, without a trailing separator. Empty when the path
// holds no separator at all. In an add-in this is the host's executable folder, not the add-in's.
std::string GetExecutableDirectory();
// Everything before the last '/' or '\\' of path; empty when there is none.
std::string DirectoryOf(const std::string& path);
// The folder part of path as the system reads it: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path);
// The last component of path: everything after the last '/' ("" for a path ending in '/').
std::string NameOf(const std::string& path);

// True when an entry of any kind exists at path; links are followed, so a dangling link is missing.
bool FileExists(const std::string& path);
// True when path opens as a directory.
bool DirectoryExists(const std::string& path);

// UTF-8 of a wide text (one code point per element). A value that is no Unicode scalar value becomes
// U+FFFD instead of failing.
std::string ws2s(const std::wstring& text);
std::string Wstr2Str(const std::wstring& text);

// The add-in folder "Autodesk/Autodesk Fusion 360/API/AddIns/<addinName>" below the folder that holds
// the first "Autodesk" of path. Empty when path holds no "Autodesk": the folder is then unknown, and
// callers must not build a path from it.
std::string AddinLocationFor(const std::string& path, const std::string& addinName);
