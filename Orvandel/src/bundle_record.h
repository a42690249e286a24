// What the installation runs placed into the host bundle, kept in the install record so that the
// uninstaller can remove exactly that.
#pragma once

#include "file_copy.h"

#include <install_record.h>
#include <unique_handles.h>

#include <functional>
#include <string>

// The journal of a run's copies into the bundle. An entry is on the record (appended and flushed)
// before its folder is made or its file lands, so that the uninstaller, run at any moment after a kill,
// finds every package file the bundle holds recorded as it stands; what a copy places outside the bundle
// is not recorded. The first append of a run writes the record whole (what it held, merged with what
// the run knows), so that appends never follow a line cut short; a run that appended writes it whole
// once more at its end, to keep it short.
class BundleRecorder final : public filecopy::CopyJournal {
public:
  using LogFunction = std::function<void(const std::string&)>;

  // bundle: the host bundle's path, without a trailing separator. recordPath: the install record
  // file; empty when none can be kept (then every entry is accepted unrecorded, told to the log once).
  // log tells of a record that cannot be read (it is then replaced by one holding what the run
  // placed) and of one that cannot be written again at the end.
  BundleRecorder(std::string bundle, std::string recordPath, LogFunction log);
  BundleRecorder(const BundleRecorder&) = delete;
  BundleRecorder& operator=(const BundleRecorder&) = delete;

  bool CreatingFolder(const std::string& path, Failure& failure) override;
  void FoundInPlace(const filecopy::Placed& file) override;
  bool Replacing(const std::vector<filecopy::Placed>& files, Failure& failure) override;
  // The record's folder, the language add-in's own: the uninstaller removes it whole, so a temporary
  // that a kill leaves there is never left in the bundle. Its temporaries of ended processes are
  // removed when it is first opened. -1 without a record.
  int StagingFolder() override;

  // Puts what FoundInPlace heard and the record lacks on the record. False with the failure when the
  // record cannot be written.
  bool Flush(Failure& failure);
  // At the run's end: the record written whole once more when the run appended to it, or heard of
  // files found in place that it did not put on the record (a run an error ended). A failure is only
  // logged: every file the run placed is on the record already. Never throws.
  void Finish() noexcept;

  // What the record holds with this run's entries, as far as the run has read it.
  const installrecord::InstallRecord& record() const { return m_record; }

private:
  // The entry's path relative to the bundle; false for a path outside it or one the record cannot hold.
  bool Relative(const std::string& path, std::string& relative) const;
  void Load();
  bool Append(const installrecord::InstallRecord& entries, Failure& failure);

  std::string m_prefix;
  std::string m_recordPath;
  LogFunction m_log;
  bool m_loaded = false;
  bool m_appended = false;
  bool m_toldNotKept = false;
  installrecord::InstallRecord m_record;
  installrecord::InstallRecord m_found; // heard of, not yet on the record
  UniqueFd m_append;
  UniqueFd m_staging;
  bool m_stagingOpened = false;
};
