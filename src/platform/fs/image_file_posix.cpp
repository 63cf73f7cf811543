// POSIX implementation of the card image files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/fs/image_file.h"

namespace tarnwick {
namespace {

SysStatus Errno(int err) {
  return SysStatus::FromCode(std::error_code(err, std::system_category()));
}

}  // namespace

struct ImageFile::Handle {
  int fd = -1;
  bool written = false;  // written to since the last fdatasync
};

ImageFile::ImageFile() = default;

ImageFile::~ImageFile() {
  Close();
}

bool ImageFile::IsOpen() const {
  return m_handle != nullptr;
}

SysStatus ImageFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Errno(errno);
  struct stat st {};
  const int err = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (err != 0) {
    ::close(fd);
    return Errno(err);
  }
  m_handle = std::make_unique<Handle>(Handle{fd});
  return {};
}

SysStatus ImageFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (!m_handle) return Errno(EBADF);
  if (offset > static_cast<uint64_t>(INT64_MAX) - length) return Errno(EOVERFLOW);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pwrite(m_handle->fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Errno(errno);
    }
    if (n == 0) return Errno(ENOSPC);
    done += static_cast<size_t>(n);
    m_handle->written = true;
  }
  return {};
}

SysStatus ImageFile::Flush() {
  if (!m_handle) return Errno(EBADF);
  if (::fsync(m_handle->fd) != 0) return Errno(errno);
  m_handle->written = false;
  return {};
}

SysStatus ImageFile::ReadBackAt(uint64_t offset, void* data, size_t length) {
  if (!m_handle) return Errno(EBADF);
  if (offset > static_cast<uint64_t>(INT64_MAX) - length) return Errno(EOVERFLOW);
  // Dirty pages are never dropped: they are written out first.
  if (m_handle->written) {
    if (::fdatasync(m_handle->fd) != 0) return Errno(errno);
    m_handle->written = false;
  }
  ::posix_fadvise(m_handle->fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                  POSIX_FADV_DONTNEED);
  auto* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pread(m_handle->fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Errno(errno);
    }
    if (n == 0) return Errno(EIO);
    done += static_cast<size_t>(n);
  }
  return {};
}

SysResult<ImageFile::State> ImageFile::CurrentState() const {
  if (!m_handle) return Errno(EBADF);
  struct stat st {};
  if (::fstat(m_handle->fd, &st) != 0) return Errno(errno);
  return State{static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_nlink)};
}

void ImageFile::Close() {
  if (!m_handle) return;
  ::close(m_handle->fd);
  m_handle.reset();
}

SysResult<FileInfo> StatFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Errno(errno);
  if (!S_ISREG(st.st_mode)) return FileInfo{};
  return FileInfo{true, static_cast<uint64_t>(st.st_size)};
}

SysStatus CreateSparseFile(const std::string& path, uint64_t bytes) {
  if (bytes > static_cast<uint64_t>(INT64_MAX)) return Errno(EFBIG);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return Errno(errno);
  if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return Errno(err);
  }
  ::close(fd);
  return {};
}

}  // namespace tarnwick
