#include "bundle_record.h"

#include <platform.h>

#include <utility>

using installrecord::InstallRecord;

namespace {

bool SameRecord(const InstallRecord& a, const InstallRecord& b) {
  return a.files == b.files && a.folders == b.folders;
}

} // namespace

BundleRecorder::BundleRecorder(std::string bundle, std::string recordPath, LogFunction log)
    : m_prefix(std::move(bundle) + "/"), m_recordPath(std::move(recordPath)), m_log(std::move(log)) {}

filecopy::CopyObserver BundleRecorder::observer() {
  return [this](const filecopy::Placed& placed) { Add(placed); };
}

void BundleRecorder::Add(const filecopy::Placed& placed) {
  if (placed.path.compare(0, m_prefix.size(), m_prefix) != 0)
    return;
  std::string relative = placed.path.substr(m_prefix.size());
  while (!relative.empty() && relative.back() == '/')
    relative.pop_back();
  if (!installrecord::IsSafeRelativePath(relative))
    return;
  if (placed.kind == filecopy::Placed::Kind::folder) {
    if (m_placed.folders.insert(std::move(relative)).second)
      Save();
    return;
  }
  const timespec modified = ModificationTime(*placed.status);
  m_placed.files[std::move(relative)] = installrecord::RecordedFile{
      static_cast<std::uint64_t>(placed.status->st_size), static_cast<std::int64_t>(modified.tv_sec),
      static_cast<std::int64_t>(modified.tv_nsec)};
}

void BundleRecorder::Save() noexcept {
  const LogFunction& log = m_log;
  try {
    if (m_saveFailed || (m_placed.files.empty() && m_placed.folders.empty()))
      return;
    if (m_recordPath.empty()) {
      log(" install record not kept: the add-in folder is unknown.");
      return;
    }
    InstallRecord record;
    Failure failure;
    if (!installrecord::ReadInstallRecord(m_recordPath, record, failure)) {
      log(" install record unreadable (" + failure.path + ": " + failure.code.message() +
          "), replaced by a new one.");
      record = InstallRecord();
    }
    InstallRecord merged = record;
    installrecord::MergeInto(merged, m_placed);
    if (SameRecord(merged, record))
      return;
    if (!installrecord::WriteInstallRecord(m_recordPath, merged, failure)) {
      m_saveFailed = true;
      log(" install record not written: " + failure.path + ": " + failure.code.message());
    }
  } catch (...) {
    // Out of memory: the record stays as it was, and the installation is not failed for it.
  }
}
