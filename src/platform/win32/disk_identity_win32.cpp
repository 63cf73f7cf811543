// The maker and model of a physical drive, as the storage device descriptor
// (IOCTL_STORAGE_QUERY_PROPERTY) tells them.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/host.h"

namespace tarnwick {
namespace {

std::string DescriptorString(const std::vector<char>& buffer, DWORD offset) {
  if (offset == 0 || offset >= buffer.size()) return {};
  std::string text(buffer.data() + offset, strnlen(buffer.data() + offset, buffer.size() - offset));
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

DiskIdentity IdentifyDisk(const std::string& devicePath) {
  if (devicePath.rfind("\\\\.\\PhysicalDrive", 0) != 0) return {};  // a card image file
  HANDLE h = CreateFileA(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<char> buffer(1024, 0);
  DWORD got = 0;
  DiskIdentity id;
  if (DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                      static_cast<DWORD>(buffer.size()), &got, nullptr) &&
      got >= sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    id.vendor = DescriptorString(buffer, descriptor->VendorIdOffset);
    id.model = DescriptorString(buffer, descriptor->ProductIdOffset);
  }
  CloseHandle(h);
  return id;
}

}  // namespace tarnwick
