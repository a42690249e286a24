// Owners of C handles and file descriptors: one set for every place that holds one.
//
// A C handle is a std::unique_ptr whose deleter calls the library's release function; the deleter
// is stateless, so the owner is the size of the pointer and moves as std::unique_ptr does. A file
// descriptor is a UniqueFd.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

// The deleter that hands a handle to Release, e.g. std::unique_ptr<CURL, CReleaser<curl_easy_cleanup>>.
// unique_ptr never calls it with null.
template <auto Release> struct CReleaser {
  template <class Handle> void operator()(Handle* handle) const noexcept { Release(handle); }
};

namespace handles_detail {
inline void CloseFile(std::FILE* file) noexcept {
  std::fclose(file);
}
inline void CloseDir(DIR* dir) noexcept {
  closedir(dir);
}
inline void FreeBlock(void* block) noexcept {
  std::free(block);
}
} // namespace handles_detail

// A stream of fopen/fdopen. Where the result of fclose matters (a written file), take it with
// std::fclose(file.release()).
using UniqueFile = std::unique_ptr<std::FILE, CReleaser<handles_detail::CloseFile>>;
// A folder listing of opendir/fdopendir; closedir also closes the descriptor fdopendir was given.
using UniqueDir = std::unique_ptr<DIR, CReleaser<handles_detail::CloseDir>>;
// A block of malloc/realloc, or text a C function allocated (realpath).
template <class T> using UniqueMalloc = std::unique_ptr<T, CReleaser<handles_detail::FreeBlock>>;

// An open file descriptor, closed when its owner goes; -1 holds nothing.
class UniqueFd {
public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return m_fd; }
  bool valid() const noexcept { return m_fd >= 0; }
  // Gives the descriptor up without closing it.
  int release() noexcept { return std::exchange(m_fd, -1); }
  void reset(int fd = -1) noexcept {
    if (m_fd >= 0)
      ::close(m_fd);
    m_fd = fd;
  }
  // Closes now and returns close's result, which for a written file can carry a late write error.
  int close() noexcept { return valid() ? ::close(release()) : 0; }

private:
  int m_fd = -1;
};
