// The start counter: a small text file in the add-in's own folder that tells the add-in which start of
// the host this is, so that the guide palette opens by itself only during the first starts.
//
// File format, lines ended by a line feed: the local date of the first counted start ("%d.%m.%Y"),
// the number of starts counted so far, then anything, which is kept as it is.
#pragma once

#include <cstdint>
#include <string>

namespace miravelo {

// Name of the info file inside the add-in's folder.
constexpr const char* kInfoFileName = "Miravelo_Info.txt";

// Today's local date as "%d.%m.%Y" (7 December 2026 gives "07.12.2026").
std::string datetime();

// The guide add-in's own folder below the folder that holds the first "Autodesk" of path; empty when
// path holds none (the folder is then unknown).
std::string SetAddinLocation(const std::string& path);

// Counts this start in the info file of the add-in's folder, which is found from the host's
// executable. Returns the number of earlier starts: 0 at the first start (no file yet), when the file
// holds fewer than two lines or when its second line is no number; -1 when the add-in's folder is
// unknown or the file exists but cannot be read (no regular file, or over 1 MiB), and then nothing is
// written. A negative number in the file comes back as it stands (and is counted up), so -1 can also be
// a stored counter; callers treat every negative result alike.
std::int32_t AutoOpenPalette();

// The same for an explicit info-file path. The file is replaced as a whole (a temporary file in the
// same folder, flushed, then renamed over it), so an interrupted start leaves the old or the new
// counter, never a truncated file; temporary files that killed starts left behind are removed before a
// write. A failure to write is not reported: the result stays the same. The counter stops at 2147483647
// instead of overflowing.
std::int32_t AutoOpenPaletteAt(const std::string& infoFile);

} // namespace miravelo
