#include "bundle_record.h"

#include <platform.h>
#include <temporary_file.h>
#include <utilities.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

using installrecord::InstallRecord;
using installrecord::RecordedFile;

namespace {

constexpr const char* kWriting = "zápis záznamu instalace";

RecordedFile AsRecorded(const struct stat& status) {
  const timespec modified = ModificationTime(status);
  return RecordedFile{static_cast<std::uint64_t>(status.st_size), static_cast<std::int64_t>(modified.tv_sec),
                      static_cast<std::int64_t>(modified.tv_nsec)};
}

} // namespace

BundleRecorder::BundleRecorder(std::string bundle, std::string recordPath, LogFunction log)
    : m_prefix(std::move(bundle) + "/"), m_recordPath(std::move(recordPath)), m_log(std::move(log)) {}

bool BundleRecorder::Relative(const std::string& path, std::string& relative) const {
  if (path.compare(0, m_prefix.size(), m_prefix) != 0)
    return false;
  relative = path.substr(m_prefix.size());
  while (!relative.empty() && relative.back() == '/')
    relative.pop_back();
  return installrecord::IsSafeRelativePath(relative);
}

void BundleRecorder::Load() {
  if (m_loaded)
    return;
  m_loaded = true;
  Failure failure;
  if (!m_recordPath.empty() && !installrecord::ReadInstallRecord(m_recordPath, m_record, failure)) {
    m_log(" install record unreadable (" + failure.path + ": " + failure.code.message() +
          "), replaced by a new one.");
  }
}

bool BundleRecorder::CreatingFolder(const std::string& path, Failure& failure) {
  std::string relative;
  if (!Relative(path, relative))
    return true;
  Load();
  if (m_record.folders.count(relative) != 0)
    return true;
  InstallRecord entry;
  entry.folders.insert(std::move(relative));
  return Append(entry, failure);
}

void BundleRecorder::FoundInPlace(const filecopy::Placed& file) {
  std::string relative;
  if (!Relative(file.path, relative))
    return;
  Load();
  const RecordedFile recorded = AsRecorded(file.status);
  const auto known = m_record.files.find(relative);
  if (known == m_record.files.end() || known->second != recorded)
    m_found.files[std::move(relative)] = recorded;
}

bool BundleRecorder::Replacing(const std::vector<filecopy::Placed>& files, Failure& failure) {
  Load();
  InstallRecord entries;
  for (const filecopy::Placed& file : files) {
    std::string relative;
    if (Relative(file.path, relative)) {
      m_found.files.erase(relative);
      entries.files[std::move(relative)] = AsRecorded(file.status);
    }
  }
  return entries.files.empty() || Append(entries, failure);
}

int BundleRecorder::StagingFolder() {
  if (!m_stagingOpened && !m_recordPath.empty()) {
    m_stagingOpened = true;
    m_staging.reset(open(FolderOf(m_recordPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (m_staging.valid())
      SweepDeadTemporaries(m_staging.get());
  }
  return m_staging.get();
}

bool BundleRecorder::Flush(Failure& failure) {
  if (m_found.files.empty())
    return true;
  if (!Append(m_found, failure))
    return false;
  m_found = InstallRecord();
  return true;
}

bool BundleRecorder::Append(const InstallRecord& entries, Failure& failure) {
  if (m_recordPath.empty()) {
    if (!m_toldNotKept)
      m_log(" install record not kept: the add-in folder is unknown.");
    m_toldNotKept = true;
    installrecord::MergeInto(m_record, entries);
    return true;
  }
  if (!m_append.valid()) {
    // The record whole first: an earlier run's append that a kill cut short is gone, and so is an
    // unreadable record.
    InstallRecord whole = m_record;
    installrecord::MergeInto(whole, entries);
    if (!installrecord::WriteInstallRecord(m_recordPath, whole, failure))
      return false;
    m_record = std::move(whole);
    m_append.reset(open(m_recordPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!m_append.valid())
      return Fail(errno, kWriting, m_recordPath, failure);
    m_appended = true;
    return true;
  }
  if (!installrecord::AppendEntries(m_append.get(), m_recordPath, entries, failure))
    return false;
  installrecord::MergeInto(m_record, entries);
  return true;
}

void BundleRecorder::Finish() noexcept {
  try {
    m_append.reset();
    // Files found in place by a run that ended before it put them on the record go on it now.
    if (m_recordPath.empty() || (!m_appended && m_found.files.empty()))
      return;
    installrecord::MergeInto(m_record, m_found);
    m_found = InstallRecord();
    m_appended = false;
    Failure failure;
    if (!installrecord::WriteInstallRecord(m_recordPath, m_record, failure))
      m_log(" install record not rewritten: " + failure.path + ": " + failure.code.message());
  } catch (...) {
    // Out of memory: the record keeps its appended lines, which say the same.
  }
}
