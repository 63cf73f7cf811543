#include "platform/win32/device_instance_win32.h"

#include <algorithm>

namespace tarnwick::win32 {

std::string NormalDeviceInstance(std::string_view id) {
  std::string out(id);
  // ASCII only: the IDs are ASCII, and other bytes (UTF-8) stay as they are.
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string DeviceInstanceOfInterfacePath(std::string_view path) {
  constexpr std::string_view kPrefix = "\\\\?\\";
  if (!path.starts_with(kPrefix)) return {};
  const std::string_view rest = path.substr(kPrefix.size());
  const size_t end = rest.rfind("#{");
  if (end == std::string_view::npos || end == 0) return {};
  std::string id = NormalDeviceInstance(rest.substr(0, end));
  std::replace(id.begin(), id.end(), '#', '\\');
  return id;
}

}  // namespace tarnwick::win32
