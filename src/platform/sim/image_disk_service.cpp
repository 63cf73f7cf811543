#include "platform/sim/image_disk_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/disk_geometry.h"

namespace tarnwick {

namespace {

// The simulated disks answer in portable conditions (std::errc).
SysStatus Failure(int err, std::string text) {
  return {std::error_code(err, std::generic_category()), std::move(text)};
}
SysStatus Failure(int err) {
  return Failure(err, std::generic_category().message(err));
}

class ImageQuery final : public IDiskQuery {
 public:
  explicit ImageQuery(uint64_t bytes) : m_geometry(GeometryFromCapacity(bytes, true)) {}
  bool GetDriveGeometry(DiskGeometry& geometry) override {
    geometry = m_geometry;
    return true;
  }
  // Images always answer the geometry request; there are no media types to ask.
  bool GetMediaTypes(uint8_t (&)[kMediaTypesAnswerSize]) override { return false; }

 private:
  DiskGeometry m_geometry;
};

class ImageWriter final : public IDiskWriter {
 public:
  ImageWriter(int fd, uint64_t openedSize) : m_fd(fd), m_openedSize(openedSize) {}
  ~ImageWriter() override { Close(); }
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
    if (m_fd < 0) return Failure(EBADF);
    if (byteOffset > static_cast<uint64_t>(INT64_MAX) - len) return Failure(EOVERFLOW);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    do {
      const ssize_t n =
          ::pwrite(m_fd, bytes + done, len - done, static_cast<off_t>(byteOffset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failure(errno);
      }
      if (n == 0 && len != 0) return Failure(ENOSPC);
      done += static_cast<size_t>(n);
    } while (done < len);
    return SysStatus::Ok();
  }

  SysStatus Flush() override {
    if (m_fd < 0) return Failure(EBADF);
    return ::fsync(m_fd) == 0 ? SysStatus::Ok() : Failure(errno);
  }

  SysStatus CheckStillTarget() override {
    if (m_fd < 0) return Failure(EBADF);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return Failure(errno);
    return CardImageStillWhole(m_openedSize, static_cast<uint64_t>(st.st_size),
                               static_cast<uint64_t>(st.st_nlink));
  }

  void Close() override {
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
  uint64_t m_openedSize;
};

}  // namespace

ImageDiskService::ImageDiskService(std::vector<std::string> imagePaths)
    : m_images(std::move(imagePaths)) {
  if (m_images.size() > kMaxDiskSlots) m_images.resize(kMaxDiskSlots);
}

bool ImageDiskService::AddImage(const std::string& path) {
  if (m_images.size() >= kMaxDiskSlots) return false;
  m_images.push_back(path);
  return true;
}

bool ImageDiskService::IsSlot(const std::string& path) const {
  return std::find(m_images.begin(), m_images.end(), path) != m_images.end();
}

std::vector<DiskSlot> ImageDiskService::Slots() {
  std::vector<DiskSlot> slots;
  for (const std::string& image : m_images) slots.push_back({image});
  return slots;
}

std::unique_ptr<IDiskQuery> ImageDiskService::OpenForQuery(const std::string& path) {
  struct stat st {};
  if (!IsSlot(path) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  return std::make_unique<ImageQuery>(static_cast<uint64_t>(st.st_size));
}

SysResult<std::unique_ptr<IDiskWriter>> ImageDiskService::OpenForWrite(const std::string& path) {
  const auto fail = [&](int err, const std::string& why) {
    return Failure(err, path + ": " + why);
  };
  if (!IsSlot(path)) return fail(EINVAL, "not a card image of the slot table");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail(errno, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(EINVAL, "not a card image file");
  if (m_protectedPaths) {
    for (const ProtectedPath& p : m_protectedPaths()) {
      struct stat other {};
      if (::stat(p.path.c_str(), &other) == 0 && other.st_dev == st.st_dev &&
          other.st_ino == st.st_ino) {
        return fail(EPERM, "is the " + p.label + " " + p.path + "; it is never written");
      }
    }
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return fail(errno, std::strerror(errno));
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(err, std::strerror(err));
  }
  return std::unique_ptr<IDiskWriter>(
      std::make_unique<ImageWriter>(fd, static_cast<uint64_t>(opened.st_size)));
}

SysStatus CreateCardImage(const std::string& path, uint64_t bytes) {
  const auto fail = [&](int err) { return Failure(err, path + ": " + std::strerror(err)); };
  if (bytes > static_cast<uint64_t>(INT64_MAX)) return fail(EFBIG);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return fail(errno);
  if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return fail(err);
  }
  ::close(fd);
  return SysStatus::Ok();
}

}  // namespace tarnwick
