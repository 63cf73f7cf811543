#pragma once
// A fake host for the Linux disk services: a sysfs/proc tree in a temporary
// folder (fake_disk_tree.h) and operating-system calls that record what they
// are asked and fail on demand. No real device is ever touched.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_disk_tree.h"
#include "platform/linux/disk_sys_calls.h"

namespace tarnwick::testing {

class FakeDiskSysCalls : public DiskSysCalls {
 public:
  std::map<std::string, DiskFileInfo> files;  // what Stat answers; others are ENOENT
  // errno for an open of that path; EBUSY only for an exclusive open, as on
  // Linux
  std::map<std::string, int> openErrors;
  std::map<std::string, int64_t> deviceBytes;  // capacity of a device path
  std::map<std::string, int> unmountErrors;    // errno for a mount point
  int lockError = 0;
  // When set, they answer instead of openErrors (for exclusive opens) and
  // lockError (a holder that lets go after a while): an errno, 0 for success.
  std::function<int()> openAnswer;
  std::function<int()> lockAnswer;
  int rereadError = 0;
  int syncError = 0;
  int runStatus = 0;
  bool root = true;
  // Answers DescriptorDevice when set (ENOSYS otherwise: nothing checked).
  std::function<int(int fd, uint32_t& major, uint32_t& minor)> descriptorDevice;
  // Replaces the default write (takes every byte) for failure injection.
  std::function<int64_t(size_t len, uint64_t offset)> write;
  std::vector<std::string> calls;  // every call in order, e.g. "open /dev/sdb excl"

  int Open(const std::string& path, DiskOpenMode mode) override {
    static const char* const kModes[] = {"ro", "rw", "excl"};
    calls.push_back("open " + path + " " + kModes[static_cast<int>(mode)]);
    const bool exclusive = mode == DiskOpenMode::ReadWriteExclusive;
    if (openAnswer && exclusive) {
      if (const int err = openAnswer(); err != 0) return -err;
    } else if (auto e = openErrors.find(path);
               e != openErrors.end() && (e->second != EBUSY || exclusive)) {
      return -e->second;
    }
    const int fd = m_nextFd++;
    m_fdPath[fd] = path;
    return fd;
  }
  int LockExclusive(int fd) override {
    calls.push_back("lock " + m_fdPath[fd]);
    return lockAnswer ? lockAnswer() : lockError;
  }
  int64_t WriteAt(int, const void*, size_t len, uint64_t offset) override {
    calls.push_back("write " + std::to_string(offset) + " " + std::to_string(len));
    return write ? write(len, offset) : static_cast<int64_t>(len);
  }
  int Sync(int fd) override {
    calls.push_back("fsync " + m_fdPath[fd]);
    return syncError;
  }
  int Close(int fd) override {
    calls.push_back("close " + m_fdPath[fd]);
    return 0;
  }
  int RereadPartitionTable(int fd) override {
    calls.push_back("reread " + m_fdPath[fd]);
    return rereadError;
  }
  int64_t DeviceBytes(int fd) override {
    auto b = deviceBytes.find(m_fdPath[fd]);
    return b != deviceBytes.end() ? b->second : -ENOTTY;
  }
  int Stat(const std::string& path, DiskFileInfo& info) override {
    auto f = files.find(path);
    if (f == files.end()) return ENOENT;
    info = f->second;
    return 0;
  }
  int DescriptorDevice(int fd, uint32_t& major, uint32_t& minor) override {
    return descriptorDevice ? descriptorDevice(fd, major, minor) : ENOSYS;
  }
  int Unmount(const std::string& mountPoint) override {
    calls.push_back("umount " + mountPoint);
    auto e = unmountErrors.find(mountPoint);
    return e != unmountErrors.end() ? e->second : 0;
  }
  int Run(const std::vector<std::string>& argv, std::string* output) override {
    std::string line = "run";
    for (const std::string& a : argv) line += " " + a;
    calls.push_back(line);
    if (output) *output = runStatus == 0 ? "" : "Error unmounting: target is busy\n";
    return runStatus;
  }
  bool IsRoot() override { return root; }

  // Declares a block device node at a path with its device number; the node
  // lives on the device file system 0:5 as inode 1000 + minor.
  void BlockNode(const std::string& path, uint32_t major, uint32_t minor) {
    DiskFileInfo info;
    info.isBlockDevice = true;
    info.devMinor = 5;
    info.inode = 1000 + minor;
    info.rdevMajor = major;
    info.rdevMinor = minor;
    files[path] = info;
  }
  // Declares a regular file living on the file system of device major:minor.
  void RegularFile(const std::string& path, uint64_t size, uint32_t major = 0,
                   uint32_t minor = 99) {
    DiskFileInfo info;
    info.isRegularFile = true;
    info.size = size;
    info.devMajor = major;
    info.devMinor = minor;
    files[path] = info;
  }
  // The calls that changed something (opens for writing, locks, unmounts, runs).
  std::vector<std::string> Actions() const {
    std::vector<std::string> out;
    for (const std::string& c : calls) {
      if (c.rfind("open", 0) == 0 && c.find(" ro") == c.size() - 3) continue;
      out.push_back(c);
    }
    return out;
  }

 private:
  int m_nextFd = 3;
  std::map<int, std::string> m_fdPath;
};

}  // namespace tarnwick::testing
