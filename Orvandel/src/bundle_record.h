// What the installation runs placed into the host bundle, kept in the install record so that the
// uninstaller can remove exactly that.
#pragma once

#include "file_copy.h"

#include <install_record.h>

#include <functional>
#include <string>

class BundleRecorder {
public:
  using LogFunction = std::function<void(const std::string&)>;

  // bundle: the host bundle's path, without a trailing separator. recordPath: the install record
  // file; empty when none can be kept. log tells of a record that cannot be read or written.
  BundleRecorder(std::string bundle, std::string recordPath, LogFunction log);
  BundleRecorder(const BundleRecorder&) = delete;
  BundleRecorder& operator=(const BundleRecorder&) = delete;

  // The observer for copies into the bundle; what a copy places outside the bundle is not recorded.
  // It refers to this recorder, which must outlive the copies. A folder about to be created is saved
  // at once: a folder that exists is not told again by a later run, as a file found in place is.
  filecopy::CopyObserver observer();

  // Merges what was placed so far into the record file, which is written (atomically) only when that
  // changes it. A record that cannot be read is replaced by one holding what was placed; a record
  // that cannot be written is left as it was, and is not tried again by this recorder. Both are told
  // to log (English), and neither throws.
  void Save() noexcept;

  const installrecord::InstallRecord& placed() const { return m_placed; }

private:
  void Add(const filecopy::Placed& placed);

  std::string m_prefix;
  std::string m_recordPath;
  LogFunction m_log;
  installrecord::InstallRecord m_placed;
  bool m_saveFailed = false;
};
