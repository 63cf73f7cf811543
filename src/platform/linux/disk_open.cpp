#include "platform/linux/disk_open.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/debug_log.h"
#include "platform/disk_geometry.h"
#include "platform/linux/disk_holders.h"
#include "platform/linux/disk_writer.h"
#include "platform/linux/errno_status.h"

namespace tarnwick {

namespace {

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

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : "; ") + item;
  return out;
}

// Gives udev the time to finish its first processing of a card that has just
// arrived: its rules and probe run then, and a writer that came first would
// make udev's later probe see a half-written card.
void WaitForUdev(DiskSysCalls& sys, const std::string& path, const CardOpenHost& host) {
  DiskFileInfo node;
  if (sys.Stat(path, node) != 0 || !node.isBlockDevice) return;
  const auto awaiting = [&] { return AwaitingUdev(host.root, node.rdevMajor, node.rdevMinor); };
  if (!awaiting()) return;
  DebugLog(1, "OpenDisk: %s not yet initialized by udev, waiting\n", path.c_str());
  const auto start = host.clock.Now();
  while (awaiting()) {
    const auto waited = host.clock.Now() - start;
    if (waited >= kUdevInitWait) {
      DebugLog(1, "OpenDisk: %s still not initialized by udev after %.1f s, going on\n",
               path.c_str(), Seconds(waited));
      return;
    }
    host.clock.SleepFor(std::chrono::milliseconds(100));
  }
  DebugLog(1, "OpenDisk: %s initialized by udev after %.1f s\n", path.c_str(),
           Seconds(host.clock.Now() - start));
}

// A card opened for writing: the writing descriptor, and the read-only one
// that holds the card's lock.
struct OpenedCard {
  int fd = -1;
  int lockFd = -1;
};

// One attempt at the lock and the exclusive open. busy is set when the
// failure is another program holding the card for now: the lock taken
// (EWOULDBLOCK), or the exclusive open refused (EBUSY) while nothing of the
// card is mounted. The lock is taken first, on a read-only descriptor:
// udev watches disks for descriptors opened for writing being closed and
// probes the disk again each time, so a failed attempt with a writable
// descriptor would itself keep the card busy.
SysResult<OpenedCard> TryOpenCard(DiskSysCalls& sys, const std::string& path,
                                  const CardOpenHost& host, bool& busy) {
  busy = false;
  OpenedCard card;
  card.lockFd = sys.Open(path, DiskOpenMode::ReadOnly);
  if (card.lockFd < 0) return ErrnoStatus(-card.lockFd, OpenErrorText(path, -card.lockFd));
  if (const int err = sys.LockExclusive(card.lockFd); err != 0) {
    sys.Close(card.lockFd);
    busy = err == EWOULDBLOCK;
    return ErrnoStatus(err, busy ? path + " is locked by another program"
                                 : path + ": cannot be locked: " + std::strerror(err));
  }
  card.fd = sys.Open(path, DiskOpenMode::ReadWriteExclusive);
  if (card.fd >= 0) return card;
  sys.Close(card.lockFd);
  const int err = -card.fd;
  if (err == EBUSY) {
    const std::vector<DiskMount> mounts =
        host.mountsNow ? host.mountsNow() : std::vector<DiskMount>{};
    if (!mounts.empty()) {
      return ErrnoStatus(EBUSY, path + " is in use: " + mounts.front().device + " is mounted at " +
                                    mounts.front().mountPoint);
    }
    busy = true;
  }
  return ErrnoStatus(err, OpenErrorText(path, err));
}

// Retries a card held by another program every 100 ms (50 ms the first
// time), up to kBusyCardWait; logs once when the wait starts and once when it
// ends. An attempt costs a read-only open and a lock, so it is tried often:
// udev's workers and probes hold shared locks that overlap, and only a moment
// with none of them lets the card be taken.
SysResult<OpenedCard> OpenCardWaiting(DiskSysCalls& sys, const std::string& path,
                                      const CardOpenHost& host) {
  WaitForUdev(sys, path, host);
  bool busy = false;
  SysResult<OpenedCard> card = TryOpenCard(sys, path, host, busy);
  if (!busy) return card;
  DebugLog(1, "OpenDisk: %s busy, waiting\n", path.c_str());
  const auto start = host.clock.Now();
  std::chrono::milliseconds pause{50};
  for (;;) {
    const auto waited = host.clock.Now() - start;
    if (waited >= kBusyCardWait) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(kBusyCardWait - waited);
    host.clock.SleepFor(std::min(pause, left));
    pause = std::chrono::milliseconds(100);
    card = TryOpenCard(sys, path, host, busy);
    if (card) {
      DebugLog(1, "OpenDisk: %s obtained after %.1f s\n", path.c_str(),
               Seconds(host.clock.Now() - start));
      return card;
    }
    if (!busy) {
      DebugLog(1, "OpenDisk: %s given up after %.1f s, err = %d\n", path.c_str(),
               Seconds(host.clock.Now() - start), card.Status().Code().value());
      return card;
    }
  }
  const double waited = Seconds(host.clock.Now() - start);
  DebugLog(1, "OpenDisk: %s given up after %.1f s, still busy\n", path.c_str(), waited);
  std::string text = card.Status().Text();
  char after[48];
  std::snprintf(after, sizeof after, ", still after %.0f s", waited);
  text += after;
  DiskFileInfo node;
  const std::string name = path.substr(path.rfind('/') + 1);
  if (sys.Stat(path, node) == 0) {
    if (const std::vector<std::string> holders = DiskHolders(host.root, name, node);
        !holders.empty()) {
      text += ": " + Join(holders);
    }
  }
  return ErrnoStatus(card.Status().Code().value(), text);
}

bool LacksRights(const SysStatus& status) {
  const std::error_code& code = status.Code();
  return code.category() == std::system_category() &&
         (code.value() == EACCES || code.value() == EPERM);
}

// Takes the lock of a card that udisks2 opened, waiting for a passing holder
// as long as for a card opened here.
SysStatus LockWaiting(DiskSysCalls& sys, const std::string& path, int fd,
                      const CardOpenHost& host) {
  int err = sys.LockExclusive(fd);
  if (err == EWOULDBLOCK) {
    DebugLog(1, "OpenDisk: %s busy, waiting\n", path.c_str());
    const auto start = host.clock.Now();
    std::chrono::milliseconds pause{50};
    while (err == EWOULDBLOCK && host.clock.Now() - start < kBusyCardWait) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(kBusyCardWait - (host.clock.Now() - start));
      host.clock.SleepFor(std::min(pause, left));
      pause = std::chrono::milliseconds(100);
      err = sys.LockExclusive(fd);
    }
    const double waited = Seconds(host.clock.Now() - start);
    if (err == 0) {
      DebugLog(1, "OpenDisk: %s obtained after %.1f s\n", path.c_str(), waited);
    } else {
      DebugLog(1, "OpenDisk: %s given up after %.1f s, still busy\n", path.c_str(), waited);
    }
  }
  if (err == 0) return SysStatus::Ok();
  return ErrnoStatus(err, err == EWOULDBLOCK ? path + " is locked by another program"
                                             : path + ": cannot be locked: " + std::strerror(err));
}

// Whether the descriptor udisks2 handed over is the device node that was
// checked against the discovery rules, and nothing else is written.
SysStatus CheckSameDevice(DiskSysCalls& sys, const std::string& path, int fd) {
  DiskFileInfo node;
  uint32_t devMajor = 0, devMinor = 0;
  int err = sys.Stat(path, node);
  if (err == 0) err = sys.DescriptorDevice(fd, devMajor, devMinor);
  if (err == ENOSYS) return SysStatus::Ok();  // calls that cannot tell
  if (err == ENOTBLK) {
    return ErrnoStatus(err, path +
                                ": udisks2 handed over something other than a block device; "
                                "nothing is written");
  }
  if (err != 0) {
    return ErrnoStatus(
        err, path + ": what udisks2 handed over cannot be checked: " + std::strerror(err));
  }
  if (!node.isBlockDevice || node.rdevMajor != devMajor || node.rdevMinor != devMinor) {
    char other[32];
    std::snprintf(other, sizeof other, "%u:%u", devMajor, devMinor);
    return ErrnoStatus(
        ENXIO, path + ": udisks2 handed over another device (" + other + "); nothing is written");
  }
  return SysStatus::Ok();
}

// A card this process may not open, asked of udisks2. When udisks2 is not
// there, own (this process's failure) stands, with the advice to install or
// start it.
SysResult<std::unique_ptr<IDiskWriter>> OpenCardThroughUdisks(DiskSysCalls& sys,
                                                              const std::string& path,
                                                              const CardOpenHost& host,
                                                              const SysStatus& own) {
  IUdisksBus& bus = *host.udisks;
  const UdisksOpen opened = OpenThroughUdisks(bus, path);
  if (opened.unavailable) {
    return SysStatus(own.Code(), own.Text() + UdisksAdvice(ProbeUdisks(bus, host.root)));
  }
  if (opened.fd < 0) return opened.failure;
  if (SysStatus same = CheckSameDevice(sys, path, opened.fd); !same) {
    sys.Close(opened.fd);
    return same;
  }
  DebugLog(1, "OpenDisk: %s opened through udisks2\n", path.c_str());
  if (SysStatus locked = LockWaiting(sys, path, opened.fd, host); !locked) {
    sys.Close(opened.fd);
    return locked;
  }
  auto writer = std::make_unique<LinuxDiskWriter>(sys, opened.fd, true);
  writer->RereadThrough([&bus, path] { return RescanThroughUdisks(bus, path); });
  return std::unique_ptr<IDiskWriter>(std::move(writer));
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
                                             bool removable, uint64_t sysfsBytes) {
  const int fd = sys.Open(path, DiskOpenMode::ReadOnly);
  if (fd < 0) {
    if ((fd != -EACCES && fd != -EPERM) || sysfsBytes == 0) return nullptr;
    return std::make_unique<FixedGeometryQuery>(GeometryFromCapacity(sysfsBytes, removable));
  }
  const int64_t bytes = sys.DeviceBytes(fd);
  sys.Close(fd);
  if (bytes <= 0) return nullptr;
  return std::make_unique<FixedGeometryQuery>(
      GeometryFromCapacity(static_cast<uint64_t>(bytes), removable));
}

std::unique_ptr<IDiskQuery> QueryImageFile(DiskSysCalls& sys, const std::string& path) {
  DiskFileInfo info;
  if (sys.Stat(path, info) != 0 || !info.isRegularFile) return nullptr;
  return std::make_unique<FixedGeometryQuery>(GeometryFromCapacity(info.size, true));
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
                                                         const std::vector<DiskMount>& mounts,
                                                         const CardOpenHost& host) {
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
  SysResult<OpenedCard> card = OpenCardWaiting(sys, path, host);
  if (!card && host.udisks && !sys.IsRoot() && LacksRights(card.Status())) {
    return OpenCardThroughUdisks(sys, path, host, card.Status());
  }
  if (!card) return card.Status();
  return std::unique_ptr<IDiskWriter>(
      std::make_unique<LinuxDiskWriter>(sys, card.Value().fd, true, card.Value().lockFd));
}

}  // namespace tarnwick
