#include "platform/linux/disk_holders.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Process(const fs::path& proc, const std::string& pid) {
  const std::string comm = FirstLine(proc / pid / "comm");
  return (comm.empty() ? std::string("process") : comm) + " (pid " + pid + ")";
}

// The disk and its partitions, by kernel name.
std::vector<std::string> DiskAndPartitions(const fs::path& diskDir, const std::string& diskName) {
  std::vector<std::string> names{diskName};
  std::error_code ec;
  for (const fs::directory_entry& sub : fs::directory_iterator(diskDir, ec)) {
    std::error_code ec2;
    if (fs::exists(sub.path() / "partition", ec2)) names.push_back(sub.path().filename().string());
  }
  std::sort(names.begin() + 1, names.end());
  return names;
}

// proc/locks: "1: FLOCK  ADVISORY  WRITE 212 00:05:341 0 EOF"; the device of
// the node's file system is in hexadecimal. Waiting requests ("1: -> FLOCK")
// hold nothing.
void LockHolders(const fs::path& proc, const DiskFileInfo& node, const std::string& diskName,
                 std::vector<std::string>& out) {
  if (node.inode == 0) return;
  std::ostringstream key;
  key << std::hex;
  key.width(2);
  key.fill('0');
  key << node.devMajor << ':';
  key.width(2);
  key << node.devMinor << ':' << std::dec << node.inode;
  std::ifstream in(proc / "locks");
  std::set<std::string> seen;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    if (f.size() < 6 || f[1] == "->" || f[5] != key.str() || !seen.insert(f[4]).second) continue;
    out.push_back(Process(proc, f[4]) + " holds a lock on /dev/" + diskName);
  }
}

}  // namespace

std::vector<std::string> DiskHolders(const std::string& root, const std::string& diskName,
                                     const DiskFileInfo& node) {
  const fs::path proc = fs::path(root) / "proc";
  const fs::path diskDir = fs::path(root) / "sys/block" / diskName;
  const std::vector<std::string> names = DiskAndPartitions(diskDir, diskName);
  std::vector<std::string> out;
  LockHolders(proc, node, diskName, out);

  std::error_code ec;
  std::vector<std::string> pids;
  for (const fs::directory_entry& entry : fs::directory_iterator(proc, ec)) {
    if (AllDigits(entry.path().filename().string())) pids.push_back(entry.path().filename());
  }
  std::sort(pids.begin(), pids.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const std::string& pid : pids) {
    std::set<std::string> open;
    std::error_code ec2;
    for (const fs::directory_entry& fd : fs::directory_iterator(proc / pid / "fd", ec2)) {
      std::error_code ec3;
      const std::string target = fs::read_symlink(fd.path(), ec3).string();
      if (ec3 || target.rfind("/dev/", 0) != 0) continue;
      const std::string name = target.substr(5);
      if (std::find(names.begin(), names.end(), name) != names.end()) open.insert(target);
    }
    for (const std::string& target : open) {
      out.push_back(Process(proc, pid) + " has " + target + " open");
    }
  }

  // Device-mapper and md devices built on the disk or a partition.
  for (const std::string& name : names) {
    const fs::path holders = name == diskName ? diskDir / "holders" : diskDir / name / "holders";
    std::error_code ec2;
    for (const fs::directory_entry& h : fs::directory_iterator(holders, ec2)) {
      out.push_back(h.path().filename().string() + " is built on /dev/" + name);
    }
  }
  return out;
}

bool AwaitingUdev(const std::string& root, uint32_t major, uint32_t minor) {
  const fs::path udev = fs::path(root) / "run/udev";
  std::error_code ec;
  if (!fs::exists(udev / "control", ec)) return false;
  return !fs::exists(udev / "data" / ("b" + std::to_string(major) + ":" + std::to_string(minor)),
                     ec);
}

}  // namespace tarnwick
