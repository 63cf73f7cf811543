#pragma once
// The physical-disk service of Windows on top of IWin32DiskCalls: the slot
// table, the geometry probe, the system-disk rule, opening a card for writing
// (its volumes locked and dismounted first), the disks report and the
// read-only reader of the inspector.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/host.h"
#include "platform/win32/win32_disk_calls.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {

// How long a volume lock or the exclusive open of a disk is retried while
// another program holds it.
inline constexpr std::chrono::milliseconds kWin32BusyBound{10000};
// The largest single WriteFile: 65,536 sectors.
inline constexpr uint32_t kWin32MaxWriteBytes = 0x2000000;
inline constexpr uint32_t kWin32DiskSlots = 13;

// "\\.\PhysicalDrive" + number.
std::string Win32DiskPath(uint32_t number);
// The number of a "\\.\PhysicalDriveN" path; false for any other path.
bool Win32DiskNumber(const std::string& path, uint32_t& number);

// The disks that must never be written, by number, each with why: the disk
// of the Windows folder, of each page file, of the working directory and of
// every protected file.
std::map<uint32_t, std::string> Win32SystemDisks(
    IWin32DiskCalls& sys, const std::function<std::vector<ProtectedPath>()>& protectedPaths);

// The device instance ID, in upper case, of the physical disk at
// "\\.\PhysicalDriveN": that of the disk interface with the same device type
// and number. Empty when it cannot be told.
std::string Win32DiskInstance(IWin32DiskCalls& sys, const std::string& path);

// The operator's text for a failed call: what failed, the system's text and
// its code.
std::string Win32ErrorText(const std::string& what, uint32_t code);

std::unique_ptr<IDiskService> MakeWin32DiskService(const Win32DiskOptions& options,
                                                   IWin32DiskCalls& sys, IClock& clock);
SysStatus CheckWin32Target(IWin32DiskCalls& sys, const std::string& path, bool allowFixed,
                           const std::function<std::vector<ProtectedPath>()>& protectedPaths);
std::vector<HostDisk> ListWin32Disks(
    IWin32DiskCalls& sys, const std::function<std::vector<ProtectedPath>()>& protectedPaths);
SysResult<std::unique_ptr<ICardReader>> OpenWin32DiskReader(IWin32DiskCalls& sys,
                                                            const std::string& path);

}  // namespace tarnwick
