#include "platform/host.h"

namespace tarnwick {

std::vector<std::string> SplitPathList(const std::string& list, char separator) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(separator, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) paths.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

}  // namespace tarnwick
