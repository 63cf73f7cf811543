// POSIX implementation of the read-only file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/fs/read_only_file.h"

namespace tarnwick {
namespace {

// One pread moves at most this much; a larger read is continued.
constexpr size_t kMaxReadChunk = size_t{1} << 30;

std::string ErrorText(int err) {
  return std::strerror(err);
}

}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

bool ReadOnlyFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK keeps the open from hanging on a FIFO; it changes nothing for
  // the regular files accepted below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    m_lastError = ErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    m_lastError = ErrorText(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    m_lastError = S_ISDIR(st.st_mode) ? ErrorText(EISDIR) : "not a regular file";
    ::close(fd);
    return false;
  }
  // The file should not change while it is read. Linux has no mandatory
  // "unshared" open, so a shared advisory lock is taken instead: it fails
  // only while another program holds an exclusive lock on the file, and that
  // counts as the file being in use. File systems without flock support
  // (some network mounts) are read without a lock.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    m_lastError = "the file is locked by another program";
    ::close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

bool ReadOnlyFile::Size(uint64_t* size) {
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    m_lastError = ErrorText(errno);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool ReadOnlyFile::ReadAt(uint64_t offset, uint8_t* buf, size_t length, size_t* got) {
  *got = 0;
  while (*got < length) {
    const uint64_t position = offset + *got;
    if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      m_lastError = ErrorText(EOVERFLOW);
      return false;
    }
    const size_t chunk = std::min(length - *got, kMaxReadChunk);
    const ssize_t n = ::pread(m_fd, buf + *got, chunk, static_cast<off_t>(position));
    if (n < 0) {
      if (errno == EINTR) continue;
      m_lastError = ErrorText(errno);
      return false;
    }
    if (n == 0) break;  // end of file
    *got += static_cast<size_t>(n);
  }
  return true;
}

void ReadOnlyFile::Close() {
  if (m_fd < 0) return;
  ::close(m_fd);  // also releases the lock
  m_fd = -1;
}

}  // namespace tarnwick
