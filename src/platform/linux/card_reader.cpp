#include "platform/linux/card_reader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/errno_status.h"

namespace tarnwick {
namespace {

SysStatus ErrnoFailure(const std::string& what, int err) {
  return ErrnoStatus(err, what + ": " + std::strerror(err));
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

}  // namespace

SysResult<std::unique_ptr<CCardReader>> CCardReader::Open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrnoFailure("cannot open " + path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return ErrnoFailure("cannot stat " + path, err);
  }
  uint64_t size = 0;
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      int err = errno;
      ::close(fd);
      return ErrnoFailure("cannot read the size of " + path, err);
    }
  } else {
    ::close(fd);
    return Refusal(
        std::errc::invalid_argument,
        path + " is " + KindOf(st.st_mode) + ": neither a card image file nor a block device");
  }
  // Reads wait for the card as usual.
  if (const int flags = ::fcntl(fd, F_GETFL);
      flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int err = errno;
    ::close(fd);
    return ErrnoFailure("cannot open " + path, err);
  }
  return std::unique_ptr<CCardReader>(new CCardReader(fd, size));
}

CCardReader::~CCardReader() {
  ::close(m_fd);
}

SysStatus CCardReader::ReadAt(uint64_t byteOffset, void* buffer, size_t len) {
  if (byteOffset > m_size || len > m_size - byteOffset) {
    return Refusal(std::errc::invalid_argument, "read past the end of the card");
  }
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(m_fd, out + done, len - done, static_cast<off_t>(byteOffset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoFailure("read error", errno);
    if (n == 0) return Refusal(std::errc::io_error, "the card ended early");
    done += static_cast<size_t>(n);
  }
  return SysStatus::Ok();
}

}  // namespace tarnwick
