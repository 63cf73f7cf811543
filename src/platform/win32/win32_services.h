#pragma once
// What the Windows host (host_win32.cpp) takes from the Windows back end: the
// physical-disk service and its checks, the SCSI bus, the arrival source and
// a few process-wide queries.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys_status.h"
#include "platform/device_events.h"
#include "platform/disk_service.h"
#include "platform/host.h"
#include "platform/scsi_bus.h"

namespace tarnwick {

struct Win32DiskOptions {
  // Targets named explicitly ("\\.\PhysicalDriveN" or card image files), in
  // order; empty: discovery over "\\.\PhysicalDrive1" .. "\\.\PhysicalDrive13".
  std::vector<std::string> targets;
  bool allowFixed = false;  // lifts the removable rule for targets, never the system-disk rule
  // The files whose disks are never written, asked for at each burn run.
  std::function<std::vector<ProtectedPath>()> protectedPaths;
};

std::unique_ptr<IDiskService> MakeWin32DiskService(const Win32DiskOptions& options);
// Why a named target would be refused; success when it is accepted.
SysStatus CheckWin32Target(const std::string& path, bool allowFixed,
                           const std::function<std::vector<ProtectedPath>()>& protectedPaths);
// Every physical disk with the verdict of discovery, for the disks report.
std::vector<HostDisk> ListWin32Disks(
    const std::function<std::vector<ProtectedPath>()>& protectedPaths);
// "\\.\PhysicalDriveN" (any case).
bool IsWin32DiskPath(const std::string& path);
// Read-only access to a whole physical disk, for the inspector.
SysResult<std::unique_ptr<ICardReader>> OpenWin32DiskReader(const std::string& path);

std::unique_ptr<IScsiBus> MakeWin32ScsiBus();
// Disk arrivals (WM_DEVICECHANGE through a message-only window).
SysResult<std::unique_ptr<IDeviceEventSource>> MakeWin32DeviceEvents();

// Writes UTF-8 text to standard output (error = false) or standard error:
// WriteConsoleW on a console, the bytes themselves (binary mode) elsewhere.
void Win32WriteText(bool error, std::string_view text);
// The arguments of the wide command line as UTF-8 (CommandLineToArgvW).
std::vector<std::string> Win32CommandLine();
// Width of the console on standard error (80 when it cannot be told).
int Win32ConsoleColumns();
// Whether the process runs elevated (administrator rights).
bool Win32IsElevated();

}  // namespace tarnwick
