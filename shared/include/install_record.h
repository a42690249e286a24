// The record of what the installer placed into the current host bundle, so that the uninstaller can
// remove exactly that and nothing of the host's own. It lies in the language add-in's folder, where a
// package upgrade keeps it, and grows over the installation runs.
//
// Text, one entry a line after the first line "# Orvandel install record 1":
//   D<TAB>path                                   a folder the installer created
//   F<TAB>size<TAB>seconds<TAB>nanoseconds<TAB>path  a file it placed, as it was right after the copy
// Paths are relative to the host bundle, '/'-separated; '%' and control bytes in them are written %XX.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

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

// Reads the record at path. A missing file is an empty record (true). False with a reason for a file
// that cannot be read or is not a record; *record is then left as it was.
bool ReadInstallRecord(const std::string& path, InstallRecord* record, std::string* error);

// Why a record could not be read, for a caller that words the reason itself.
struct ReadProblem {
  enum class Kind { kUnreadable, kNotRegularFile, kTooLarge, kNotARecord, kDamagedLine };
  Kind kind = Kind::kUnreadable;
  int error = 0; // kUnreadable: the errno
  int line = 0;  // kDamagedLine: its number, from 1
};

// The same, with the problem by kind. The largest record read is kMaxRecordBytes.
constexpr long long kMaxRecordBytes = 64LL * 1024 * 1024;
bool ReadInstallRecord(const std::string& path, InstallRecord& record, ReadProblem& problem);

// Writes the record to path as a whole: a temporary file beside it, flushed, renamed over it. False
// with a reason when it cannot; whatever stood at path is then left as it was.
bool WriteInstallRecord(const std::string& path, const InstallRecord& record, std::string* error);

// Adds the entries of more to into; for a file in both, more's wins.
void MergeInto(InstallRecord& into, const InstallRecord& more);

} // namespace installrecord
