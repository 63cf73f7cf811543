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
  if (m_bBlockDevice) {
    const int64_t block = m_sys.LogicalBlockBytes(m_fd);
    // A power of two that divides a page, as every disk's is.
    if (block >= 512 && block <= static_cast<int64_t>(kDirectAlignBytes) &&
        (block & (block - 1)) == 0) {
      m_blockBytes = static_cast<uint64_t>(block);
    }
  }
}

LinuxDiskWriter::~LinuxDiskWriter() {
  if (m_fd >= 0) m_sys.Close(m_fd);
  if (m_lockFd >= 0) m_sys.Close(m_lockFd);
}

namespace {

SysStatus WriteFailure(int err) {
  return ErrnoStatus(err, std::system_category().message(err));
}

bool Aligned(uint64_t value, uint64_t unit) {
  return value % unit == 0;
}

}  // namespace

bool LinuxDiskWriter::UseDirect(bool on) {
  if (on && m_bDirectRefused) return false;
  if (on == m_bDirectOn) return true;
  if (m_sys.SetDirect(m_fd, on) != 0) {
    if (on) m_bDirectRefused = true;
    return false;
  }
  m_bDirectOn = on;
  return true;
}

SysStatus LinuxDiskWriter::WriteRange(uint64_t byteOffset, const uint8_t* bytes, size_t len,
                                      bool direct, bool* refused) {
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
        if (direct && n == -EINVAL && done + chunkDone == 0) {
          // The device asks for an alignment beyond ours: the cache takes it.
          m_bDirectRefused = true;
          *refused = true;
          return SysStatus::Ok();
        }
        return WriteFailure(static_cast<int>(-n));
      }
      if (n == 0 && chunk != 0) return WriteFailure(ENOSPC);
      chunkDone += static_cast<size_t>(n);
    } while (chunkDone < chunk);
    done += chunk;
  } while (done < len);
  return SysStatus::Ok();
}

SysStatus LinuxDiskWriter::WriteAt(uint64_t byteOffset, const void* data, size_t len) {
  if (m_fd < 0) return WriteFailure(EBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t direct = 0;
  if (m_bBlockDevice && len >= kDirectMinBytes &&
      Aligned(reinterpret_cast<uintptr_t>(bytes), kDirectAlignBytes) &&
      Aligned(byteOffset, m_blockBytes) && UseDirect(true)) {
    direct = static_cast<size_t>(len / m_blockBytes * m_blockBytes);
    bool refused = false;
    if (SysStatus status = WriteRange(byteOffset, bytes, direct, true, &refused); !status) {
      return status;
    }
    if (refused) direct = 0;
  }
  if (direct == len && len != 0) return SysStatus::Ok();
  // The rest, or all of it, through the page cache.
  if (!UseDirect(false)) return WriteFailure(EINVAL);
  const uint64_t at = byteOffset + direct;
  const size_t rest = len - direct;
  bool unused = false;
  if (SysStatus status = WriteRange(at, bytes + direct, rest, false, &unused); !status) {
    return status;
  }
  // The disk starts on these bytes now, while the caller prepares the next
  // ones, instead of all of them waiting for the flush at the end.
  if (rest != 0) {
    m_bCachedSinceSync = true;
    m_sys.StartWriteback(m_fd, at, rest);
  }
  return SysStatus::Ok();
}

SysStatus LinuxDiskWriter::Flush() {
  if (m_fd < 0) return WriteFailure(EBADF);
  // Also asks the device to make durable what it took directly.
  if (const int err = m_sys.Sync(m_fd); err != 0) return WriteFailure(err);
  m_bCachedSinceSync = false;
  return SysStatus::Ok();
}

SysStatus LinuxDiskWriter::ReadBackAt(uint64_t byteOffset, void* data, size_t len) {
  if (m_fd < 0) return WriteFailure(EBADF);
  auto* bytes = static_cast<uint8_t*>(data);
  bool direct = m_bBlockDevice && Aligned(reinterpret_cast<uintptr_t>(bytes), kDirectAlignBytes) &&
                Aligned(byteOffset, m_blockBytes) && Aligned(len, m_blockBytes) && UseDirect(true);
  if (!direct) {
    if (!UseDirect(false)) return WriteFailure(EINVAL);
    // Nothing unwritten may stay in the cache, or dropping it would keep it.
    if (m_bCachedSinceSync) {
      if (const int err = m_sys.Sync(m_fd); err != 0) return WriteFailure(err);
      m_bCachedSinceSync = false;
    }
    m_sys.DropCached(m_fd, byteOffset, len);
  }
  size_t done = 0;
  while (done < len) {
    const size_t piece = std::min(len - done, kMaxWriteCallBytes);
    const int64_t n = m_sys.ReadAt(m_fd, bytes + done, piece, byteOffset + done);
    if (n < 0) {
      if (n == -EINTR) continue;
      if (direct && n == -EINVAL && done == 0) {
        // Direct reads refused here: the cache, emptied of the range, instead.
        m_bDirectRefused = true;
        return ReadBackAt(byteOffset, data, len);
      }
      return WriteFailure(static_cast<int>(-n));
    }
    if (n == 0) {
      return ErrnoStatus(
          EIO, "read back past the end of the disk at byte " + std::to_string(byteOffset + done));
    }
    done += static_cast<size_t>(n);
  }
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
