#pragma once
// The operating-system calls that the Linux disk service makes, behind one
// small interface so that the safety rules (exclusive opens, locks, unmounts,
// partition re-reads) can be tested with fake calls.
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

struct DiskFileInfo {
  bool isBlockDevice = false;
  bool isRegularFile = false;
  uint32_t devMajor = 0;  // the file system holding the file
  uint32_t devMinor = 0;
  uint64_t inode = 0;
  uint32_t rdevMajor = 0;  // the device itself, for a device node
  uint32_t rdevMinor = 0;
  uint64_t size = 0;
};

enum class DiskOpenMode {
  ReadOnly,
  ReadWrite,
  ReadWriteExclusive,  // O_EXCL on a block device: fails with EBUSY while mounted
};

// Results are errno values (0 = success) unless said otherwise.
class DiskSysCalls {
 public:
  virtual ~DiskSysCalls() = default;
  // A descriptor (>= 0) or -errno.
  [[nodiscard]] virtual int Open(const std::string& path, DiskOpenMode mode) = 0;
  // An exclusive, non-blocking whole-file lock.
  [[nodiscard]] virtual int LockExclusive(int fd) = 0;
  // Bytes written (>= 0) or -errno.
  [[nodiscard]] virtual int64_t WriteAt(int fd, const void* data, size_t len, uint64_t offset) = 0;
  [[nodiscard]] virtual int Sync(int fd) = 0;
  // Starts writing back len bytes written at offset, without waiting for them.
  // A hint only: it may do nothing, and write errors still surface at Sync.
  virtual void StartWriteback(int /*fd*/, uint64_t /*offset*/, uint64_t /*len*/) {}
  // Bytes read (>= 0, 0 at the end) or -errno.
  [[nodiscard]] virtual int64_t ReadAt(int /*fd*/, void* /*data*/, size_t /*len*/,
                                       uint64_t /*offset*/) {
    return -ENOSYS;
  }
  // Switches direct transfers (O_DIRECT: past the page cache, straight between
  // the caller's memory and the device) on or off for the descriptor. EINVAL
  // where the file system or device cannot do them.
  [[nodiscard]] virtual int SetDirect(int /*fd*/, bool /*on*/) { return EINVAL; }
  // Drops the cached pages of a range that holds nothing unwritten, so that the
  // next read of it comes from the device or the file's blocks. A hint only.
  virtual void DropCached(int /*fd*/, uint64_t /*offset*/, uint64_t /*len*/) {}
  virtual int Close(int fd) = 0;
  // Asks the kernel to re-read the partition table of an open block device.
  [[nodiscard]] virtual int RereadPartitionTable(int fd) = 0;
  // Capacity in bytes of an open block device, or -errno.
  [[nodiscard]] virtual int64_t DeviceBytes(int fd) = 0;
  // The logical block size in bytes of an open block device (the unit of its
  // positions and lengths for direct transfers), or -errno.
  [[nodiscard]] virtual int64_t LogicalBlockBytes(int /*fd*/) { return -ENOTTY; }
  [[nodiscard]] virtual int Stat(const std::string& path, DiskFileInfo& info) = 0;
  // The size and the number of names of an open file (0 names: deleted).
  [[nodiscard]] virtual int FileState(int /*fd*/, uint64_t& /*size*/, uint64_t& /*links*/) {
    return ENOSYS;
  }
  // The device number of an open block device (ENOTBLK for anything else).
  [[nodiscard]] virtual int DescriptorDevice(int /*fd*/, uint32_t& /*major*/, uint32_t& /*minor*/) {
    return ENOSYS;
  }
  [[nodiscard]] virtual int Unmount(const std::string& mountPoint) = 0;
  // Runs a program (no shell) and returns its exit status, -1 when it could
  // not be run; *output gets what it printed.
  [[nodiscard]] virtual int Run(const std::vector<std::string>& argv, std::string* output) = 0;
  virtual bool IsRoot() = 0;
};

// The real calls.
DiskSysCalls& RealDiskSysCalls();

}  // namespace tarnwick
