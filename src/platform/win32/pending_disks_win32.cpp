// Placeholder until the physical-disk service of Windows exists: no disks are
// found and none is opened. Card image files and the simulated board work.
#include <algorithm>
#include <cctype>

#include "platform/win32/win32_services.h"

namespace tarnwick {
namespace {

SysStatus NotYet(const std::string& path) {
  return {std::make_error_code(std::errc::function_not_supported),
          path + ": physical disks are not supported on Windows yet"};
}

class NoDisks final : public IDiskService {
 public:
  std::vector<DiskSlot> Slots() override { return {}; }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string&) override { return nullptr; }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    return NotYet(path);
  }
};

}  // namespace

std::unique_ptr<IDiskService> MakeWin32DiskService(const Win32DiskOptions&) {
  return std::make_unique<NoDisks>();
}

SysStatus CheckWin32Target(const std::string& path, bool,
                           const std::function<std::vector<ProtectedPath>()>&) {
  return NotYet(path);
}

std::vector<HostDisk> ListWin32Disks(const std::function<std::vector<ProtectedPath>()>&) {
  return {};
}

bool IsWin32DiskPath(const std::string& path) {
  static const std::string kPrefix = "\\\\.\\physicaldrive";
  if (path.size() <= kPrefix.size()) return false;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) return false;
  }
  return std::all_of(path.begin() + static_cast<long>(kPrefix.size()), path.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

SysResult<std::unique_ptr<ICardReader>> OpenWin32DiskReader(const std::string& path) {
  return NotYet(path);
}

int Win32ConsoleColumns() {
  return 80;
}

bool Win32IsElevated() {
  return false;
}

}  // namespace tarnwick
