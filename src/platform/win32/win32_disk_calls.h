#pragma once
// The Windows calls that the physical-disk service makes, behind one small
// interface so that tests drive the service with a fake. Handles, control
// codes and errors are the system's own values; the constants below are
// checked against <windows.h> where the real calls are made.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

using Win32Handle = void*;
inline const Win32Handle kInvalidWin32Handle = reinterpret_cast<Win32Handle>(~uintptr_t{0});

namespace win32c {
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 0x1;
inline constexpr uint32_t kShareWrite = 0x2;
inline constexpr uint32_t kFlagNoBuffering = 0x20000000u;
inline constexpr uint32_t kFlagWriteThrough = 0x80000000u;

inline constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
inline constexpr uint32_t kIoctlStorageGetMediaTypesEx = 0x002D0C04;
inline constexpr uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;
inline constexpr uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
inline constexpr uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
inline constexpr uint32_t kIoctlDiskUpdateProperties = 0x00070140;
inline constexpr uint32_t kFsctlLockVolume = 0x00090018;
inline constexpr uint32_t kFsctlDismountVolume = 0x00090020;

inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorInvalidParameter = 87;
}  // namespace win32c

class IWin32DiskCalls {
 public:
  virtual ~IWin32DiskCalls() = default;
  // CreateFileW with OPEN_EXISTING, no flags; kInvalidWin32Handle on failure.
  virtual Win32Handle Open(const std::string& path, uint32_t access, uint32_t share) = 0;
  // The same with the given FILE_FLAG_ values.
  virtual Win32Handle OpenWithFlags(const std::string& path, uint32_t access, uint32_t share,
                                    uint32_t flags) {
    (void)flags;
    return Open(path, access, share);
  }
  // DeviceIoControl without overlapped I/O.
  virtual bool Ioctl(Win32Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t& returned) = 0;
  // SetFilePointer(h, low, &high, FILE_BEGIN); false when it failed.
  virtual bool Seek(Win32Handle h, uint32_t low, int32_t high) = 0;
  virtual bool Write(Win32Handle h, const void* data, uint32_t len, uint32_t& written) = 0;
  virtual bool Read(Win32Handle h, void* data, uint32_t len, uint32_t& read) = 0;
  virtual bool Flush(Win32Handle h) = 0;
  virtual void Close(Win32Handle h) = 0;
  // GetLastError of the last failed call above.
  virtual uint32_t LastError() = 0;

  // Volume names ("\\?\Volume{...}\", FindFirstVolumeW/FindNextVolumeW).
  virtual std::vector<std::string> Volumes() = 0;
  // The drive letters and folders a volume is mounted at
  // (GetVolumePathNamesForVolumeNameW), e.g. "E:\".
  virtual std::vector<std::string> MountPoints(const std::string& volume) = 0;
  // The volume that holds a file or folder (GetVolumePathNameW, then
  // GetVolumeNameForVolumeMountPointW); empty when it cannot be told.
  virtual std::string VolumeOfPath(const std::string& path) = 0;
  virtual std::string WindowsFolder() = 0;
  // The page files the system is configured with (full paths).
  virtual std::vector<std::string> PageFiles() = 0;
  virtual std::string CurrentDirectory() = 0;

  // The device paths of the disk interfaces present (GUID_DEVINTERFACE_DISK),
  // as far as they can be listed.
  virtual std::vector<std::string> DiskInterfaces() = 0;
  // The device instance ID of the device behind a disk interface path; empty
  // when it cannot be told.
  virtual std::string InterfaceInstance(const std::string& path) = 0;
};

IWin32DiskCalls& RealWin32DiskCalls();

}  // namespace tarnwick
