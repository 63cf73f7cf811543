#pragma once
// The writer for a block device or a card image file opened by the Linux disk
// service: positioned writes in chunks of at most 32 MiB, each started on its
// way to the disk once complete, fsync, and a partition-table re-read when a
// block device is closed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/disk_service.h"
#include "platform/linux/disk_sys_calls.h"

namespace tarnwick {

// Largest single system write.
inline constexpr size_t kMaxWriteCallBytes = 32u << 20;

class LinuxDiskWriter final : public IDiskWriter {
 public:
  // Takes ownership of fd and of lockFd (a second descriptor of the same disk
  // that holds its lock, or -1), which is closed after fd. A block device
  // has its partition table re-read when it is closed.
  LinuxDiskWriter(DiskSysCalls& sys, int fd, bool blockDevice, int lockFd = -1);
  ~LinuxDiskWriter() override;
  LinuxDiskWriter(const LinuxDiskWriter&) = delete;
  LinuxDiskWriter& operator=(const LinuxDiskWriter&) = delete;

  // When the kernel refuses the partition-table re-read for lack of rights,
  // the disk is closed and then re-read through rescan (udisks2's Rescan,
  // which could not claim the disk while it is still open here).
  void RereadThrough(std::function<SysStatus()> rescan) { m_rescan = std::move(rescan); }

  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override;
  SysStatus Flush() override;
  SysStatus CheckStillTarget() override;
  void Close() override;

 private:
  DiskSysCalls& m_sys;
  int m_fd;
  bool m_bBlockDevice;
  std::optional<uint64_t> m_openedSize;  // a card image file: its size when opened
  int m_lockFd;
  std::function<SysStatus()> m_rescan;
};

}  // namespace tarnwick
