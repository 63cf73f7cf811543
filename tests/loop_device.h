#pragma once
// A loop device that a test attaches to a file it created (losetup, as root)
// and detaches again whatever happens.
#include <string>

#include "test_support.h"

namespace tarnwick::testing {

// A loop device attached to a backing file; detached when it goes away.
class LoopDevice {
 public:
  LoopDevice(const std::string& backingFile, bool partitionScan) {
    std::string out;
    const std::string scan = partitionScan ? "--partscan " : "";
    if (RunCommand("losetup --find --show " + scan + backingFile, &out) == 0 &&
        out.rfind("/dev/loop", 0) == 0) {
      m_path = out.substr(0, out.find('\n'));
    } else {
      m_error = out;
    }
  }
  ~LoopDevice() {
    if (!m_path.empty()) RunCommand("losetup -d " + m_path, nullptr);
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& Path() const { return m_path; }
  const std::string& Error() const { return m_error; }

 private:
  std::string m_path;
  std::string m_error;
};

}  // namespace tarnwick::testing
