#pragma once
// The SCSI bus on Windows: the disk interfaces of SetupAPI, opened with
// CreateFileA and driven with DeviceIoControl (property queries for the
// report, SCSI pass-through for commands). Every Windows call goes through
// IWin32ScsiCalls so that tests can check what is asked of the system and
// how its answers are read, without a device.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/scsi_bus.h"

namespace tarnwick {

// A HANDLE or HDEVINFO; nullptr stands for INVALID_HANDLE_VALUE.
using Win32Handle = void*;

// The Windows calls the bus makes, one method per call, with the records as
// bytes in the layouts of scsi_records_win32.h. A failed call is answered
// false (or nullptr) and LastError() then gives its GetLastError() code.
class IWin32ScsiCalls {
 public:
  virtual ~IWin32ScsiCalls() = default;
  virtual uint32_t LastError() = 0;
  // SetupDiGetClassDevsA(GUID_DEVINTERFACE_DISK, no enumerator, no window,
  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE).
  virtual Win32Handle GetDiskInterfaces() = 0;
  // SetupDiEnumDeviceInterfaces(set, no device, GUID_DEVINTERFACE_DISK,
  // index, data): `data` is an SP_DEVICE_INTERFACE_DATA with its size set.
  virtual bool EnumInterface(Win32Handle set, uint32_t index, uint8_t* data) = 0;
  // SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize,
  // &requiredSize, no device): no buffer (nullptr, 0) asks for the size.
  virtual bool GetInterfaceDetail(Win32Handle set, uint8_t* data, uint8_t* detail,
                                  uint32_t detailSize, uint32_t& requiredSize) = 0;
  virtual bool DestroyInterfaces(Win32Handle set) = 0;
  // CreateFileA(path, access, share, no security, OPEN_EXISTING, 0, no template).
  virtual Win32Handle OpenDevice(const std::string& path, uint32_t access, uint32_t share) = 0;
  virtual bool CloseDevice(Win32Handle handle) = 0;
  // DeviceIoControl(handle, code, in, inSize, out, outSize, &returned, not overlapped).
  virtual bool IoControl(Win32Handle handle, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t& returned) = 0;
  // The device instance ID of the device behind the disk interface `path`
  // (SetupDiOpenDeviceInterfaceA into an empty set, then
  // SetupDiGetDeviceInstanceIdA on the device it brings in).
  virtual bool GetInterfaceInstance(const std::string& path, std::string& instance) = 0;
};

// The real calls.
IWin32ScsiCalls& SystemWin32ScsiCalls();

// CreateFileA's access and sharing for a device that takes commands.
inline constexpr uint32_t kGenericReadWrite = 0x80000000u | 0x40000000u;
inline constexpr uint32_t kShareReadWrite = 0x1 | 0x2;

class Win32ScsiBus final : public IScsiBus {
 public:
  explicit Win32ScsiBus(IWin32ScsiCalls& calls = SystemWin32ScsiCalls());
  ~Win32ScsiBus() override;
  Win32ScsiBus(const Win32ScsiBus&) = delete;
  Win32ScsiBus& operator=(const Win32ScsiBus&) = delete;

  SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() override;
  SysResult<ScsiHandle> Open(const std::string& path) override;
  SysStatus Close(ScsiHandle handle) override;
  SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle handle) override;
  SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle handle) override;
  SysResult<uint32_t> QueryMediaType(ScsiHandle handle) override;
  // Data to the device goes direct (IOCTL_SCSI_PASS_THROUGH_DIRECT) from a
  // buffer aligned as the adapter asks; data from the device, or none, goes
  // buffered (IOCTL_SCSI_PASS_THROUGH) in the request itself.
  ScsiResult PassThrough(ScsiHandle handle, const ScsiRequest& request) override;
  // The device instance ID of the disk interface the handle was opened on,
  // in upper case.
  SysResult<std::string> DiskInstanceOf(ScsiHandle handle) override;

 private:
  struct OpenDevice {
    Win32Handle handle = nullptr;
    std::optional<uint32_t> alignmentMask;  // learnt at the first direct request
    std::string path;                       // the interface path it was opened on
    std::string instance;                   // learnt at the first DiskInstanceOf
  };

  OpenDevice* Find(ScsiHandle handle);
  SysResult<std::vector<uint8_t>> QueryProperty(Win32Handle device, uint32_t propertyId);
  ScsiResult Buffered(Win32Handle device, const ScsiRequest& request);
  ScsiResult Direct(OpenDevice& device, const ScsiRequest& request);

  IWin32ScsiCalls& m_calls;
  std::map<ScsiHandle, OpenDevice> m_open;
  ScsiHandle m_nextHandle = 1;
};

}  // namespace tarnwick
