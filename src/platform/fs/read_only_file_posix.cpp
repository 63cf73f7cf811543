// POSIX implementation of the read-only file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#include "platform/fs/read_only_file.h"

namespace tarnwick {
namespace {

// One pread moves at most this much; a larger read is continued.
constexpr size_t kMaxReadChunk = size_t{1} << 30;

SysStatus Errno(int err) {
  return SysStatus::FromCode(std::error_code(err, std::system_category()));
}

}  // namespace

struct ReadOnlyFile::Handle {
  int fd = -1;
};

ReadOnlyFile::ReadOnlyFile() = default;

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

bool ReadOnlyFile::IsOpen() const {
  return m_handle != nullptr;
}

SysStatus ReadOnlyFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK keeps the open from hanging on a FIFO; it changes nothing for
  // the regular files accepted below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Errno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Errno(err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return Errno(EISDIR);
    return {std::make_error_code(std::errc::invalid_argument), "not a regular file"};
  }
  // The file should not change while it is read. Linux has no mandatory
  // "unshared" open, so a shared advisory lock is taken instead: it fails
  // only while another program holds an exclusive lock on the file, and that
  // counts as the file being in use. File systems without flock support
  // (some network mounts) are read without a lock.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return {std::error_code(EWOULDBLOCK, std::system_category()),
            "the file is locked by another program"};
  }
  m_handle = std::make_unique<Handle>(Handle{fd});
  return {};
}

SysResult<uint64_t> ReadOnlyFile::Size() {
  if (!m_handle) return Errno(EBADF);
  struct stat st {};
  if (::fstat(m_handle->fd, &st) != 0) return Errno(errno);
  return static_cast<uint64_t>(st.st_size);
}

SysResult<size_t> ReadOnlyFile::ReadAt(uint64_t offset, uint8_t* buf, size_t length) {
  if (!m_handle) return Errno(EBADF);
  if (SysStatus fault = ReadFaultAt(offset, length); !fault) return fault;
  size_t got = 0;
  while (got < length) {
    const uint64_t position = offset + got;
    if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
      return Errno(EOVERFLOW);
    const size_t chunk = std::min(length - got, kMaxReadChunk);
    const ssize_t n = ::pread(m_handle->fd, buf + got, chunk, static_cast<off_t>(position));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Errno(errno);
    }
    if (n == 0) break;  // end of file
    got += static_cast<size_t>(n);
  }
  return got;
}

void ReadOnlyFile::Close() {
  if (!m_handle) return;
  ::close(m_handle->fd);  // also releases the lock
  m_handle.reset();
}

}  // namespace tarnwick
