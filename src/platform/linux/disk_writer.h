#pragma once
// The writer for a block device or a card image file opened by the Linux disk
// service: positioned writes in chunks of at most 32 MiB, fsync, and a
// partition-table re-read when a block device is closed.
//
// A block device takes large aligned writes directly (O_DIRECT), past the
// page cache: the kernel keeps the whole chunk in flight at the device, no
// copy into the cache is made and none waits for the final flush. Everything
// else (the records of a sector or a few, unaligned memory) goes through the
// page cache as before, its writeback started at once. A card image file is
// written through the page cache alone: its blocks are allocated as they are
// written back, which the file system does faster in one run at the end.
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
// The memory of a direct write lies on a multiple of this (a page: more than
// any device asks for); its position and length are multiples of the device's
// logical block size, or of this where the device does not tell it.
inline constexpr size_t kDirectAlignBytes = 4096;
// Smaller writes go through the page cache even when aligned: one system
// write each way costs the same, and a cached one returns at once.
inline constexpr size_t kDirectMinBytes = 1u << 20;

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
  // A block device is read directly (O_DIRECT), so the bytes come from the
  // device, never from the page cache. Where direct reads are refused, and
  // for a card image file, what was written is made durable, its cached pages
  // are dropped and the range is read through the cache: from the device or
  // from the file's blocks (a card image's read-back is from the file).
  SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override;
  SysStatus CheckStillTarget() override;
  void Close() override;

 private:
  // Writes [bytes, bytes + len) at byteOffset through the page cache (direct
  // false) or directly; *refused is set when a direct write was refused with
  // EINVAL before any byte of it was written (the caller goes on through the cache).
  SysStatus WriteRange(uint64_t byteOffset, const uint8_t* bytes, size_t len, bool direct,
                       bool* refused);
  // Switches the descriptor's direct transfers; false when they cannot be had.
  bool UseDirect(bool on);

  DiskSysCalls& m_sys;
  int m_fd;
  bool m_bBlockDevice;
  std::optional<uint64_t> m_openedSize;  // a card image file: its size when opened
  int m_lockFd;
  std::function<SysStatus()> m_rescan;
  uint64_t m_blockBytes = kDirectAlignBytes;  // the unit of direct positions and lengths
  bool m_bDirectOn = false;                   // O_DIRECT is set on m_fd now
  bool m_bDirectRefused = false;              // the device or file refused direct transfers
  bool m_bCachedSinceSync = false;  // bytes written through the cache since the last fsync
};

}  // namespace tarnwick
