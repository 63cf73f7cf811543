// The maker and model of a block device, as sysfs tells them: a SCSI disk's
// INQUIRY strings (vendor, model), an SD card's product name.
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::string ReadTrimmed(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  if (!in || !std::getline(in, text)) return {};
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

DiskIdentity IdentifyDisk(const std::string& devicePath) {
  const fs::path device(devicePath);
  if (device.parent_path() != "/dev") return {};  // a card image file
  const fs::path sysDevice = fs::path("/sys/block") / device.filename() / "device";
  DiskIdentity id;
  id.vendor = ReadTrimmed(sysDevice / "vendor");
  id.model = ReadTrimmed(sysDevice / "model");
  if (id.model.empty()) id.model = ReadTrimmed(sysDevice / "name");
  return id;
}

}  // namespace tarnwick
