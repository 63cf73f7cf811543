#include "platform/linux/disk_writer.h"

#include <algorithm>
#include <cerrno>

#include "common/debug_log.h"
#include "platform/linux/errno_status.h"

namespace tarnwick {

LinuxDiskWriter::LinuxDiskWriter(DiskSysCalls& sys, int fd, bool blockDevice, int lockFd)
    : m_sys(sys), m_fd(fd), m_bBlockDevice(blockDevice), m_lockFd(lockFd) {
  uint64_t size = 0, links = 0;
  if (!m_bBlockDevice && m_sys.FileState(m_fd, size, links) == 0) m_openedSize = size;
}

LinuxDiskWriter::~LinuxDiskWriter() {
  if (m_fd >= 0) m_sys.Close(m_fd);
  if (m_lockFd >= 0) m_sys.Close(m_lockFd);
}

namespace {

SysStatus WriteFailure(int err) {
  return ErrnoStatus(err, std::system_category().message(err));
}

}  // namespace

SysStatus LinuxDiskWriter::WriteAt(uint64_t byteOffset, const void* data, size_t len) {
  if (m_fd < 0) return WriteFailure(EBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  // A zero-length request still has its position checked, as a seek would.
  do {
    const size_t chunk = std::min(len - done, kMaxWriteCallBytes);
    size_t chunkDone = 0;
    do {
      const int64_t n = m_sys.WriteAt(m_fd, bytes + done + chunkDone, chunk - chunkDone,
                                      byteOffset + done + chunkDone);
      if (n < 0) {
        if (n == -EINTR) continue;
        return WriteFailure(static_cast<int>(-n));
      }
      if (n == 0 && chunk != 0) return WriteFailure(ENOSPC);
      chunkDone += static_cast<size_t>(n);
    } while (chunkDone < chunk);
    done += chunk;
  } while (done < len);
  // The disk starts on these bytes now, while the caller prepares the next
  // ones, instead of all of them waiting for the flush at the end.
  if (len != 0) m_sys.StartWriteback(m_fd, byteOffset, len);
  return SysStatus::Ok();
}

SysStatus LinuxDiskWriter::Flush() {
  if (m_fd < 0) return WriteFailure(EBADF);
  if (const int err = m_sys.Sync(m_fd); err != 0) return WriteFailure(err);
  return SysStatus::Ok();
}

SysStatus LinuxDiskWriter::CheckStillTarget() {
  if (m_fd < 0) return WriteFailure(EBADF);
  if (!m_openedSize) return SysStatus::Ok();
  uint64_t size = 0, links = 0;
  if (const int err = m_sys.FileState(m_fd, size, links); err != 0) return WriteFailure(err);
  return CardImageStillWhole(*m_openedSize, size, links);
}

void LinuxDiskWriter::Close() {
  if (m_fd < 0) return;
  if (const int err = m_sys.Sync(m_fd); err != 0) {
    DebugLog(1, "CloseDisk: fsync failed, err = %d\n", err);
  }
  // Re-read while the descriptor still holds the disk exclusively, so that no
  // one else claims it between our close and the kernel's scan.
  bool rescan = false;
  if (m_bBlockDevice) {
    if (const int err = m_sys.RereadPartitionTable(m_fd); err != 0) {
      rescan = m_rescan && (err == EACCES || err == EPERM);
      if (!rescan) {
        DebugLog(1, "CloseDisk: re-read of the partition table refused, err = %d\n", err);
      }
    }
  }
  m_sys.Close(m_fd);
  m_fd = -1;
  if (m_lockFd >= 0) m_sys.Close(m_lockFd);
  m_lockFd = -1;
  if (rescan) {
    if (SysStatus status = m_rescan(); !status) {
      DebugLog(1, "CloseDisk: %s\n", status.Text().c_str());
    }
  }
}

}  // namespace tarnwick
