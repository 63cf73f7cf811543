#pragma once
// Device instance IDs ("USBSTOR\DISK&VEN_X&PROD_Y\7&2A1B&0"): the identity
// the SCSI bus, the disk service and the arrival notices give a disk on
// Windows. Windows compares these IDs without regard to case; every answer
// here is in upper case, so that the identities compare as plain strings.
#include <string>
#include <string_view>

namespace tarnwick::win32 {

// The upper-case form of a device instance ID.
std::string NormalDeviceInstance(std::string_view id);

// The device instance ID of a device-interface path
// ("\\?\USBSTOR#Disk&Ven_X#7&2a1b&0#{53f56307-...}" gives
// "USBSTOR\DISK&VEN_X\7&2A1B&0"): the part between "\\?\" and the last "#{",
// each '#' turned into '\'. Empty for anything else.
std::string DeviceInstanceOfInterfacePath(std::string_view path);

}  // namespace tarnwick::win32
