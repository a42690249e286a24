// Temporary files: a file is written under a temporary name beside its target and renamed over the
// target once complete, so that nobody ever sees the target half-written, and a process killed on the
// way leaves the target as it was.
//
// The temporary name is hidden and carries the process id: "." + target name + "." + pid + "-" +
// serial + ".qxtmp" (a long target name is cut, at a character boundary). A temporary whose process has
// ended was left by a kill; SweepDeadTemporaries removes those, and nothing else.
//
// Errors: a thin wrapper of the system calls, so the platform layer's rule holds (platform.h): 0 or the
// errno value, which the caller turns into a Failure with Fail.
#pragma once

#include "unique_handles.h"

#include <sys/types.h>

#include <functional>
#include <string>

class TemporaryFile {
public:
  // Creates an empty file for targetName exclusively in the folder open as folderFd, which must stay
  // open while this object lives. mode is open's (the umask applies). On failure !valid() and error()
  // is the errno.
  static TemporaryFile CreateIn(int folderFd, const std::string& targetName, mode_t mode = 0600);
  // The same beside the file at targetPath (its folder is opened here and kept open). The folder's
  // temporaries of ended processes are swept first, so that a writer killed at any moment leaves at most
  // one leftover per folder, gone at the next write.
  static TemporaryFile CreateBeside(const std::string& targetPath, mode_t mode = 0600);
  // For a file made otherwise than by open (a clone): make(folderFd, name) creates it and returns 0
  // or an errno; EEXIST tries another name. The result holds no descriptor.
  static TemporaryFile MakeIn(int folderFd, const std::string& targetName,
                              const std::function<int(int folderFd, const char* name)>& make);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  // Removes the file unless it was committed.
  ~TemporaryFile();

  bool valid() const { return !m_name.empty(); }
  int error() const { return m_error; }
  // The open descriptor (-1 when made by MakeIn, after finish, or after releaseFd).
  int fd() const { return m_fd.get(); }
  // Hands the descriptor to the caller (e.g. for fdopen), who then closes it; the file stays this
  // object's to commit or remove.
  int releaseFd() { return m_fd.release(); }
  // The temporary's name in its folder, and its folder's descriptor.
  const std::string& name() const { return m_name; }
  int folderFd() const { return m_folderFd; }

  // Writes all of data through the descriptor. 0 or an errno.
  int write(const std::string& data);
  // Flushes the written data to the storage and closes the descriptor (if still held here). 0 or the
  // errno of the flush or the close, which can carry a late write error.
  int finish();
  // Renames the file over targetName in its folder and gives it up; with durable, the folder is
  // flushed too, so that the rename survives a power loss. 0 or the errno of the rename.
  int commit(bool durable = false);
  // The same into another folder on the same file system: renames the file over name in the folder
  // open as folderFd and gives it up. 0 or the errno of the rename (EXDEV across file systems).
  int commitInto(int folderFd, const std::string& name);
  // Removes the file now.
  void discard();

private:
  TemporaryFile() = default;

  UniqueFd m_ownedFolder;
  int m_folderFd = -1;
  std::string m_targetName;
  std::string m_name;
  UniqueFd m_fd;
  int m_error = 0;
};

// True when name is a temporary of this scheme whose process is no longer running.
bool IsTemporaryOfDeadProcess(const char* name);

// Removes from the folder every temporary of a process that is no longer running (files only; a link
// goes as the link). Best effort: what cannot be listed or removed stays, and nothing is reported.
void SweepDeadTemporaries(int folderFd);
void SweepDeadTemporaries(const std::string& folderPath);

// The folder for temporary folders: TMPDIR when set and not empty, else /tmp.
std::string TemporaryFolderBase();
// Creates a new folder, mode 0700, named prefix followed by six random characters, in
// TemporaryFolderBase(). Its path, or "" with errno set when it cannot be made.
std::string MakeTemporaryFolder(const std::string& prefix);
