#pragma once
// udisks2 as the Linux disk service's tests want it: each call is recorded
// and answered as set, success by default. No bus is involved.
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/udisks_open.h"

namespace tarnwick::testing {

class FakeUdisksBus : public IUdisksBus {
 public:
  // The objects ResolveDevice answers; its error when set.
  std::vector<std::string> objects{"/org/freedesktop/UDisks2/block_devices/sdb"};
  std::optional<BusError> resolveError;
  std::optional<BusError> openError;
  std::optional<BusError> rescanError;
  int fd = 42;  // what OpenDevice hands over
  bool reachable = true;
  // Every call in order, e.g. "OpenDevice /org/.../sdb"; a test may point
  // it at the fake system calls' list to see both in one order.
  std::vector<std::string> own;
  std::vector<std::string>* calls = &own;

  bool ResolveDevice(const std::string& devicePath, std::vector<std::string>& found,
                     BusError& error) override {
    calls->push_back("ResolveDevice " + devicePath);
    return Answer(resolveError, error) && (found = objects, true);
  }
  bool OpenDevice(const std::string& object, int& opened, BusError& error) override {
    calls->push_back("OpenDevice " + object);
    return Answer(openError, error) && (opened = fd, true);
  }
  bool Rescan(const std::string& object, BusError& error) override {
    calls->push_back("Rescan " + object);
    return Answer(rescanError, error);
  }
  bool ServiceReachable() override { return reachable; }

 private:
  static bool Answer(const std::optional<BusError>& set, BusError& error) {
    if (!set) return true;
    error = *set;
    return false;
  }
};

}  // namespace tarnwick::testing
