// The record of what the installer placed into the current host bundle, so that the uninstaller can
// remove exactly that and nothing of the host's own. It lies in the language add-in's folder, where a
// package upgrade keeps it, and grows over the installation runs.
//
// Text, one entry a line after the first line "# Orvandel install record 1":
//   D<TAB>path                                   a folder the installer created
//   F<TAB>size<TAB>seconds<TAB>nanoseconds<TAB>path  a file it placed, as it was right after the copy
// Paths are relative to the host bundle, '/'-separated; '%' and control bytes in them are written %XX.
// Entries are appended as the installer places files; a later line for a path wins over an earlier one,
// and a last line without its newline (an append a kill cut short) is no entry.
#pragma once

#include "failure.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <system_error>

namespace installrecord {

constexpr const char* kFileName = "Orvandel_InstallRecord.txt";

struct RecordedFile {
  std::uint64_t size = 0;
  std::int64_t mtimeSeconds = 0;
  std::int64_t mtimeNanoseconds = 0;

  bool operator==(const RecordedFile& other) const {
    return size == other.size && mtimeSeconds == other.mtimeSeconds &&
           mtimeNanoseconds == other.mtimeNanoseconds;
  }
  bool operator!=(const RecordedFile& other) const { return !(*this == other); }
};

struct InstallRecord {
  std::map<std::string, RecordedFile> files; // by path relative to the bundle
  std::set<std::string> folders;             // likewise
};

// A path the record may hold: relative, not empty, no empty, "." or ".." component, no NUL.
bool IsSafeRelativePath(const std::string& path);

// Why a record that exists is not used, beside the system's errno codes (RecordCategory()).
enum class RecordError { kNotRegularFile = 1, kTooLarge, kNotARecord, kDamagedLine };
const std::error_category& RecordCategory();
std::error_code make_error_code(RecordError error);

// The largest record read: a record is a few thousand lines, and anything far larger is not one of ours.
constexpr long long kMaxRecordBytes = 64LL * 1024 * 1024;

// Reads the record at path. A missing file is an empty record (true). False for a file that cannot be
// read (the system's code) or is not a record (a RecordError code, with the reason in Czech as the
// detail); record is then left as it was.
bool ReadInstallRecord(const std::string& path, InstallRecord& record, Failure& failure);

// Writes the record to path as a whole: a temporary file beside it, flushed, renamed over it. False
// with the system's code when it cannot; whatever stood at path is then left as it was.
bool WriteInstallRecord(const std::string& path, const InstallRecord& record, Failure& failure);

// Appends the entries' lines to the record at path, open as fd (written by WriteInstallRecord, opened
// for appending), in one write, and flushes them (fsync) so that they are on the storage before whatever
// the caller does next. False with the system's code when it cannot.
bool AppendEntries(int fd, const std::string& path, const InstallRecord& entries, Failure& failure);

// Adds the entries of more to into; for a file in both, more's wins.
void MergeInto(InstallRecord& into, const InstallRecord& more);

} // namespace installrecord

namespace std {
template <> struct is_error_code_enum<installrecord::RecordError> : true_type {};
} // namespace std
