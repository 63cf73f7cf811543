#pragma once
// The SCSI bus: how the board search and the download reach the host's disk
// devices. It enumerates the disk interfaces, opens them, answers the
// property queries of the diagnostic report and carries SCSI commands. A
// failure carries the system's own code; the search and the download judge
// outcomes by ScsiOutcome and portable conditions (std::errc), so they judge
// the same way on every platform.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sys_status.h"

namespace tarnwick {

// An open device. 0 is the null handle; the bus never hands it out.
using ScsiHandle = uint32_t;

// How fetching an interface's device path ended: found, past the last
// interface, or which step failed.
enum class InterfaceLookup {
  Found,
  NoMoreItems,       // past the last interface
  EnumFailed,        // the interface itself
  DetailSizeFailed,  // the size of its detail record
  DetailFailed,      // the detail record (the device path)
};

struct InterfacePath {
  InterfaceLookup lookup = InterfaceLookup::Found;
  std::string path;  // when found
  SysStatus error;   // when a step failed
};

// A snapshot of the disk interfaces present when it was taken. Destroying it
// releases it.
class IScsiInterfaceSet {
 public:
  virtual ~IScsiInterfaceSet() = default;
  // The device path of interface `index`.
  virtual InterfacePath GetInterfacePath(uint32_t index) = 0;
};

// Adapter properties for the report.
struct ScsiAdapterProperties {
  uint32_t busType =
      0;  // 0 unknown, 1 SCSI, 2 ATAPI, 3 ATA, 4 IEEE 1394, 5 SSA, 6 Fibre, 7 USB, 8 RAID
  uint32_t maxTransferLength = 0;  // bytes
  uint32_t maxPhysicalPages = 0;
  uint32_t alignmentMask = 0;
};

// Device properties for the report. Empty texts are left out of it.
struct ScsiDeviceProperties {
  uint8_t deviceType = 0;  // SCSI peripheral device type
  uint8_t deviceTypeModifier = 0;
  bool removableMedia = false;
  std::string vendorId;
  std::string productId;
  std::string productRevision;
  std::string serialNumber;
};

enum class ScsiDirection { None, FromDevice, ToDevice };

inline constexpr size_t kMaxCdbLength = 16;
inline constexpr size_t kMaxSenseLength = 32;

// One command: the CDB, the data phase and how long the device may take.
struct ScsiRequest {
  std::array<uint8_t, kMaxCdbLength> cdb{};
  uint8_t cdbLength = 0;
  ScsiDirection direction = ScsiDirection::None;
  uint8_t* data = nullptr;  // dataLength bytes, read or written in place
  uint32_t dataLength = 0;
  uint8_t senseLength = 0;  // sense bytes wanted, at most kMaxSenseLength
  uint32_t timeoutSeconds = 0;
};

enum class ScsiOutcome {
  Completed,  // the device answered; status and sense tell how (not judged here)
  TimedOut,   // error is the system's time-out code
  Failed,     // error holds the reason
};

struct ScsiResult {
  ScsiOutcome outcome = ScsiOutcome::Failed;
  SysStatus error;  // success unless the request did not complete
  uint8_t scsiStatus = 0;
  uint8_t senseLength = 0;  // sense bytes written back
  std::array<uint8_t, kMaxSenseLength> sense{};
  uint32_t dataTransferred = 0;
};

class IScsiBus {
 public:
  virtual ~IScsiBus() = default;
  // The present disk interfaces.
  virtual SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() = 0;
  // Opens a device path for commands (read and write, shared).
  virtual SysResult<ScsiHandle> Open(const std::string& path) = 0;
  // Closes a handle; fails when it was not open.
  virtual SysStatus Close(ScsiHandle handle) = 0;
  virtual SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle handle) = 0;
  virtual SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle handle) = 0;
  // The device type of the media-types query (2 CD-ROM, 0x33 DVD, 7 disk, ...).
  virtual SysResult<uint32_t> QueryMediaType(ScsiHandle handle) = 0;
  // Sends one command and waits at most its time-out.
  virtual ScsiResult PassThrough(ScsiHandle handle, const ScsiRequest& request) = 0;
  // The identity of this appearance of the device's own disk, as the disk
  // service's DiskInstanceOf gives it for the same disk (Linux: the disk's
  // sequence number; Windows: its device instance). Fails when the system
  // cannot tell.
  virtual SysResult<std::string> DiskInstanceOf(ScsiHandle /*handle*/) {
    return SysStatus(std::make_error_code(std::errc::not_supported),
                     "the disk instance cannot be told");
  }
};

}  // namespace tarnwick
