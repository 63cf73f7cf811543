#pragma once
// The disk service: the only way the core reaches disks. It offers the slot
// table that card discovery probes, the geometry probe, and opening a disk
// for writing. A Linux backend (platform/linux), a simulated one whose disks
// are card image files (platform/sim) and test fakes implement it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/sys_status.h"
#include "layout/card_layout.h"

namespace tarnwick {

// Media types as the geometry record carries them.
inline constexpr uint32_t kRemovableMedia = 11;
inline constexpr uint32_t kFixedMedia = 12;

// The drive geometry record (24 bytes on the original platform).
struct DiskGeometry {
  int64_t Cylinders = 0;
  uint32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
};

// Size of the media-types answer and where its first media entry's disk
// information (the geometry record's layout) lies in it.
inline constexpr size_t kMediaTypesAnswerSize = 520;
inline constexpr size_t kMediaTypesFirstEntryOffset = 8;

// A disk opened for the geometry probe (read-only; nothing is written).
class IDiskQuery {
 public:
  virtual ~IDiskQuery() = default;
  // The geometry request. False when the device does not answer it.
  [[nodiscard]] virtual bool GetDriveGeometry(DiskGeometry& geometry) = 0;
  // The media-types request: fills the 520-byte answer (entry count at byte 4,
  // first entry's disk information at bytes 8..31). False when refused.
  [[nodiscard]] virtual bool GetMediaTypes(uint8_t (&answer)[kMediaTypesAnswerSize]) = 0;
};

// A disk opened for writing. A failure carries the system's code.
class IDiskWriter {
 public:
  virtual ~IDiskWriter() = default;
  // Writes len bytes at a 64-bit byte position. A short transfer is continued
  // until complete; a transfer of 0 bytes fails with no_space_on_device.
  // invalid_argument and value_too_large mean the position itself was refused.
  virtual SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) = 0;
  // Makes everything written so far durable.
  virtual SysStatus Flush() = 0;
  // Reads len bytes at a 64-bit byte position back from the device itself,
  // not from a cache of what was written (verification after Flush). data is
  // page-aligned and byteOffset and len are whole sectors. A short read is
  // continued until complete; end of device is a failure.
  virtual SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) {
    (void)byteOffset;
    (void)data;
    (void)len;
    return {std::make_error_code(std::errc::operation_not_supported),
            "this disk cannot be read back"};
  }
  // Whether what was written still lands on the card: a card image file must
  // still be the file that was opened (not deleted) and keep the size it had
  // then (not truncated). A disk has nothing to tell.
  virtual SysStatus CheckStillTarget() { return SysStatus::Ok(); }
  // Closes the disk. Afterwards the kernel is asked to re-read the partition
  // table where that applies; a refused re-read is logged by the backend and
  // does not count as a failure.
  virtual void Close() = 0;
};

// The answer of CheckStillTarget for a card image file that had openedSize
// bytes when it was opened and now has size bytes and links names.
inline SysStatus CardImageStillWhole(uint64_t openedSize, uint64_t size, uint64_t links) {
  if (links == 0) {
    return {std::make_error_code(std::errc::no_such_file_or_directory),
            "the card image was deleted while it was written"};
  }
  if (size != openedSize) {
    return {std::make_error_code(std::errc::io_error),
            "the card image changed size while it was written (" + std::to_string(openedSize) +
                " bytes when opened, " + std::to_string(size) + " now)"};
  }
  return SysStatus::Ok();
}

// The slot table never holds more than kMaxDiskSlots disks (layout/card_layout.h).

// A file whose disk must never be written: the pack file, the configuration
// file, the settings file, the working directory.
struct ProtectedPath {
  std::string label;  // "pack file", "working directory", ...
  std::string path;
};

// One probed slot of the table that discovery walks.
struct DiskSlot {
  std::string path;  // device path (block device or card image file)
};

class IDiskService {
 public:
  virtual ~IDiskService() = default;
  // The device paths that discovery probes, in slot order; at most 13.
  virtual std::vector<DiskSlot> Slots() = 0;
  // Opens a path for the geometry probe; nullptr when it cannot be opened.
  virtual std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) = 0;
  // Opens a path for writing; the failure's text says why, for the operator.
  // A system disk is never opened.
  virtual SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) = 0;
  // The identity of this appearance of the disk at a slot's path, as the SCSI
  // bus's DiskInstanceOf gives it; empty when the system cannot tell.
  virtual std::string DiskInstanceOf(const std::string& /*path*/) { return {}; }
};

}  // namespace tarnwick
