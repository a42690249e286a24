// Routines shared by the deliverables. A deliverable links only the object files of the ones it calls.
// Paths are narrow UTF-8 strings, passed to the system as they are; the path and file helpers are
// path.h's and file.h's, included here for the callers of the shared routines.
#pragma once

#include "file.h"
#include "path.h"

#include <string>

// Folder of the running process's main executable, without a trailing separator. Empty when the path
// holds no separator at all. In an add-in this is the host's executable folder, not the add-in's.
std::string GetExecutableDirectory();

// UTF-8 of a wide text (one code point per element). A value that is no Unicode scalar value becomes
// U+FFFD instead of failing.
std::string ws2s(const std::wstring& text);
std::string Wstr2Str(const std::wstring& text);

// The add-in folder "Autodesk/Autodesk Fusion 360/API/AddIns/<addinName>" below the folder that holds
// the first "Autodesk" of path. Empty when path holds no "Autodesk": the folder is then unknown, and
// callers must not build a path from it.
std::string AddinLocationFor(const std::string& path, const std::string& addinName);
