#include "platform/linux/disk_open.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/debug_log.h"
#include "platform/disk_geometry.h"
#include "platform/linux/disk_writer.h"

namespace tarnwick {

namespace {

class FormedGeometryQuery final : public IDiskQuery {
 public:
  explicit FormedGeometryQuery(const DiskGeometry& geometry) : m_geometry(geometry) {}

  bool GetDriveGeometry(DiskGeometry& geometry) override {
    geometry = m_geometry;
    return true;
  }
  // There is no separate media-types request here: the geometry request
  // always answers.
  bool GetMediaTypes(uint8_t (&)[kMediaTypesAnswerSize]) override { return false; }

 private:
  DiskGeometry m_geometry;
};

void SetError(std::string* errorText, const std::string& text) {
  if (errorText) *errorText = text;
}

std::string OpenErrorText(const std::string& path, int err) {
  switch (err) {
    case EBUSY:
      return path + " is in use: a partition is mounted or another program holds it";
    case EACCES:
    case EPERM:
      return path +
             ": permission denied; writing a disk needs root, or membership of the disk group "
             "(which is as powerful as root)";
    case ENOMEDIUM:
      return path + ": no card in the reader";
    default:
      return path + ": cannot be opened: " + std::strerror(err);
  }
}

// Opens and locks; the descriptor, or -1 with *errorText set.
int OpenLocked(DiskSysCalls& sys, const std::string& path, DiskOpenMode mode,
               std::string* errorText) {
  const int fd = sys.Open(path, mode);
  if (fd < 0) {
    SetError(errorText, OpenErrorText(path, -fd));
    return -1;
  }
  if (const int err = sys.LockExclusive(fd); err != 0) {
    sys.Close(fd);
    SetError(errorText, err == EWOULDBLOCK ? path + " is locked by another program"
                                           : path + ": cannot be locked: " + std::strerror(err));
    return -1;
  }
  return fd;
}

[[nodiscard]] bool Unmount(DiskSysCalls& sys, const DiskMount& mount, std::string* errorText) {
  std::string detail;
  if (sys.IsRoot()) {
    const int err = sys.Unmount(mount.mountPoint);
    if (err == 0) return true;
    detail = std::strerror(err);
  } else {
    // udisks lets a desktop user unmount the automounts of their own session.
    std::string output;
    const int status = sys.Run({"udisksctl", "unmount", "--block-device", mount.device}, &output);
    if (status == 0) return true;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    detail = status < 0 ? "udisksctl could not be run" : "udisksctl: " + output;
  }
  SetError(errorText,
           "cannot unmount " + mount.device + " from " + mount.mountPoint + ": " + detail);
  return false;
}

}  // namespace

std::unique_ptr<IDiskQuery> QueryBlockDevice(DiskSysCalls& sys, const std::string& path,
                                             bool removable) {
  const int fd = sys.Open(path, DiskOpenMode::kReadOnly);
  if (fd < 0) return nullptr;
  const int64_t bytes = sys.DeviceBytes(fd);
  sys.Close(fd);
  if (bytes <= 0) return nullptr;
  return std::make_unique<FormedGeometryQuery>(
      GeometryFromCapacity(static_cast<uint64_t>(bytes), removable));
}

std::unique_ptr<IDiskQuery> QueryImageFile(DiskSysCalls& sys, const std::string& path) {
  DiskFileInfo info;
  if (sys.Stat(path, info) != 0 || !info.isRegularFile) return nullptr;
  return std::make_unique<FormedGeometryQuery>(GeometryFromCapacity(info.size, true));
}

std::unique_ptr<IDiskWriter> OpenImageForWrite(DiskSysCalls& sys, const std::string& path,
                                               std::string* errorText) {
  DiskFileInfo info;
  if (const int err = sys.Stat(path, info); err != 0) {
    SetError(errorText, path + ": " + std::strerror(err));
    return nullptr;
  }
  if (!info.isRegularFile) {
    SetError(errorText, path + " is not a card image file");
    return nullptr;
  }
  const int fd = OpenLocked(sys, path, DiskOpenMode::kReadWrite, errorText);
  if (fd < 0) return nullptr;
  return std::make_unique<LinuxDiskWriter>(sys, fd, false);
}

std::unique_ptr<IDiskWriter> OpenCardForWrite(DiskSysCalls& sys, const std::string& path,
                                              const std::vector<DiskMount>& mounts,
                                              std::string* errorText) {
  for (const DiskMount& m : mounts) {
    if (!IsAutomountPoint(m.mountPoint)) {
      SetError(errorText, path + " is refused: " + m.device + " is mounted at " + m.mountPoint +
                              "; unmount it first");
      return nullptr;
    }
  }
  // Nested mounts go first; a device mounted twice is unmounted once through udisks.
  std::vector<DiskMount> order = mounts;
  std::sort(order.begin(), order.end(), [](const DiskMount& a, const DiskMount& b) {
    return a.mountPoint.size() > b.mountPoint.size();
  });
  std::vector<std::string> done;
  for (const DiskMount& m : order) {
    if (!sys.IsRoot() && std::find(done.begin(), done.end(), m.device) != done.end()) continue;
    if (!Unmount(sys, m, errorText)) {
      if (errorText) *errorText = path + ": " + *errorText;
      return nullptr;
    }
    done.push_back(m.device);
    DebugLog(1, "OpenForWrite: unmounted %s from %s\n", m.device.c_str(), m.mountPoint.c_str());
  }
  const int fd = OpenLocked(sys, path, DiskOpenMode::kReadWriteExclusive, errorText);
  if (fd < 0) return nullptr;
  return std::make_unique<LinuxDiskWriter>(sys, fd, true);
}

}  // namespace tarnwick
