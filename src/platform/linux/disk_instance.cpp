#include "platform/linux/disk_instance.h"

#include <fstream>
#include <iterator>

namespace tarnwick {

std::string ReadDiskInstance(const std::string& sysBlockDir) {
  std::ifstream in(sysBlockDir + "/diskseq", std::ios::binary);
  return DiskInstanceFromSeq(
      std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::string DiskInstanceFromSeq(std::string seq) {
  while (!seq.empty() && (seq.back() == '\n' || seq.back() == '\0')) seq.pop_back();
  if (seq.empty() || seq.find_first_not_of("0123456789") != std::string::npos) return {};
  return "diskseq " + seq;
}

}  // namespace tarnwick
