#include "platform/linux/disk_instance.h"

#include <fstream>
#include <iterator>

namespace tarnwick {

std::string ReadDiskInstance(const std::string& sysBlockDir) {
  std::ifstream in(sysBlockDir + "/diskseq", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  return "diskseq " + text;
}

}  // namespace tarnwick
