#include "platform/linux/disk_open.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/debug_log.h"
#include "platform/disk_geometry.h"
#include "platform/linux/disk_writer.h"
#include "platform/linux/errno_status.h"

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

// Opens and locks; the descriptor.
SysResult<int> OpenLocked(DiskSysCalls& sys, const std::string& path, DiskOpenMode mode) {
  const int fd = sys.Open(path, mode);
  if (fd < 0) return ErrnoStatus(-fd, OpenErrorText(path, -fd));
  if (const int err = sys.LockExclusive(fd); err != 0) {
    sys.Close(fd);
    return ErrnoStatus(err, err == EWOULDBLOCK
                                ? path + " is locked by another program"
                                : path + ": cannot be locked: " + std::strerror(err));
  }
  return fd;
}

// The failure's text is prefixed with the disk's path.
SysStatus Unmount(DiskSysCalls& sys, const std::string& path, const DiskMount& mount) {
  std::string detail;
  int code = EBUSY;
  if (sys.IsRoot()) {
    const int err = sys.Unmount(mount.mountPoint);
    if (err == 0) return SysStatus::Ok();
    detail = std::strerror(err);
    code = err;
  } else {
    // udisks lets a desktop user unmount the automounts of their own session.
    std::string output;
    const int status = sys.Run({"udisksctl", "unmount", "--block-device", mount.device}, &output);
    if (status == 0) return SysStatus::Ok();
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    detail = status < 0 ? "udisksctl could not be run" : "udisksctl: " + output;
  }
  return ErrnoStatus(code, path + ": cannot unmount " + mount.device + " from " + mount.mountPoint +
                               ": " + detail);
}

}  // namespace

std::unique_ptr<IDiskQuery> QueryBlockDevice(DiskSysCalls& sys, const std::string& path,
                                             bool removable) {
  const int fd = sys.Open(path, DiskOpenMode::ReadOnly);
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

SysResult<std::unique_ptr<IDiskWriter>> OpenImageForWrite(DiskSysCalls& sys,
                                                          const std::string& path) {
  DiskFileInfo info;
  if (const int err = sys.Stat(path, info); err != 0) {
    return ErrnoStatus(err, path + ": " + std::strerror(err));
  }
  if (!info.isRegularFile) {
    return Refusal(std::errc::invalid_argument, path + " is not a card image file");
  }
  SysResult<int> fd = OpenLocked(sys, path, DiskOpenMode::ReadWrite);
  if (!fd) return fd.Status();
  return std::unique_ptr<IDiskWriter>(std::make_unique<LinuxDiskWriter>(sys, fd.Value(), false));
}

SysResult<std::unique_ptr<IDiskWriter>> OpenCardForWrite(DiskSysCalls& sys, const std::string& path,
                                                         const std::vector<DiskMount>& mounts) {
  for (const DiskMount& m : mounts) {
    if (!IsAutomountPoint(m.mountPoint)) {
      return Refusal(std::errc::device_or_resource_busy, path + " is refused: " + m.device +
                                                             " is mounted at " + m.mountPoint +
                                                             "; unmount it first");
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
    if (SysStatus status = Unmount(sys, path, m); !status) return status;
    done.push_back(m.device);
    DebugLog(1, "OpenForWrite: unmounted %s from %s\n", m.device.c_str(), m.mountPoint.c_str());
  }
  SysResult<int> fd = OpenLocked(sys, path, DiskOpenMode::ReadWriteExclusive);
  if (!fd) return fd.Status();
  return std::unique_ptr<IDiskWriter>(std::make_unique<LinuxDiskWriter>(sys, fd.Value(), true));
}

}  // namespace tarnwick
