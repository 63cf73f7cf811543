// The Windows calls behind the SCSI bus.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// The SDK headers below need <windows.h> first.
#include <setupapi.h>

#include <cstring>

#include "platform/win32/disk_interface_win32.h"
#include "platform/win32/scsi_bus_win32.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {
namespace {

class RealWin32ScsiCalls final : public IWin32ScsiCalls {
 public:
  uint32_t LastError() override { return GetLastError(); }

  Win32Handle GetDiskInterfaces() override {
    HDEVINFO set = SetupDiGetClassDevsA(&win32::kDiskInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return set == INVALID_HANDLE_VALUE ? nullptr : set;
  }

  bool EnumInterface(Win32Handle set, uint32_t index, uint8_t* data) override {
    return SetupDiEnumDeviceInterfaces(set, nullptr, &win32::kDiskInterfaceClass, index,
                                       reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
  }

  bool GetInterfaceDetail(Win32Handle set, uint8_t* data, uint8_t* detail, uint32_t detailSize,
                          uint32_t& requiredSize) override {
    DWORD required = 0;
    const BOOL ok = SetupDiGetDeviceInterfaceDetailA(
        set, reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
        reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail), detailSize, &required,
        nullptr);
    requiredSize = required;
    return ok != FALSE;
  }

  bool DestroyInterfaces(Win32Handle set) override {
    return SetupDiDestroyDeviceInfoList(set) != FALSE;
  }

  Win32Handle OpenDevice(const std::string& path, uint32_t access, uint32_t share) override {
    HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }

  bool CloseDevice(Win32Handle handle) override { return CloseHandle(handle) != FALSE; }

  bool IoControl(Win32Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t& returned) override {
    DWORD bytes = 0;
    const BOOL ok =
        DeviceIoControl(handle, code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
    returned = bytes;
    return ok != FALSE;
  }

  bool GetInterfaceInstance(const std::string& path, std::string& instance) override {
    // No class: the set takes the device of whatever setup class it has.
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    // A device instance ID has at most MAX_DEVICE_ID_LEN (200) characters.
    char id[256] = {};
    // Opening the interface brings its device into the empty set, as its first element.
    const bool ok = SetupDiOpenDeviceInterfaceA(set, path.c_str(), 0, &iface) != FALSE &&
                    SetupDiEnumDeviceInfo(set, 0, &device) != FALSE &&
                    SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr) != FALSE;
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    if (ok) instance.assign(id, strnlen(id, sizeof id));
    return ok;
  }
};

}  // namespace

IWin32ScsiCalls& SystemWin32ScsiCalls() {
  static RealWin32ScsiCalls calls;
  return calls;
}

std::unique_ptr<IScsiBus> MakeWin32ScsiBus() {
  return std::make_unique<Win32ScsiBus>();
}

}  // namespace tarnwick
