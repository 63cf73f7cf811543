#include "platform/linux/card_reader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {
namespace {

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

}  // namespace

std::unique_ptr<CCardReader> CCardReader::Open(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot open " + path, errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    if (error) *error = ErrnoText("cannot stat " + path, err);
    return nullptr;
  }
  uint64_t size = 0;
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      int err = errno;
      ::close(fd);
      if (error) *error = ErrnoText("cannot read the size of " + path, err);
      return nullptr;
    }
  } else {
    ::close(fd);
    if (error) *error = path + " is neither a card image file nor a block device";
    return nullptr;
  }
  return std::unique_ptr<CCardReader>(new CCardReader(fd, size));
}

CCardReader::~CCardReader() {
  ::close(m_fd);
}

bool CCardReader::ReadAt(uint64_t byteOffset, void* buffer, size_t len, std::string* error) {
  if (byteOffset > m_size || len > m_size - byteOffset) {
    if (error) *error = "read past the end of the card";
    return false;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(m_fd, out + done, len - done, static_cast<off_t>(byteOffset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = ErrnoText("read error", errno);
      return false;
    }
    if (n == 0) {
      if (error) *error = "the card ended early";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tarnwick
