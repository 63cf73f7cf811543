#include "platform/linux/disk_holders.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

// What one process holds of the disk.
struct ProcessHold {
  bool lock = false;
  std::set<std::string> open;  // device paths
};

bool PidOrder(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// proc/locks: "1: FLOCK  ADVISORY  WRITE 212 00:05:341 0 EOF"; the device of
// the node's file system is in hexadecimal. Waiting requests ("1: -> FLOCK")
// hold nothing.
void ReadLockHolders(const fs::path& proc, const DiskFileInfo& node,
                     std::map<std::string, ProcessHold, decltype(&PidOrder)>& holds) {
  if (node.inode == 0) return;
  char key[64];
  std::snprintf(key, sizeof key, "%02x:%02x:%llu", node.devMajor, node.devMinor,
                static_cast<unsigned long long>(node.inode));
  std::ifstream in(proc / "locks");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    if (f.size() < 6 || f[1] == "->" || f[5] != key) continue;
    holds[f[4]].lock = true;
  }
}

// Descriptors open on the disk or one of its partitions.
void ReadOpenHolders(const fs::path& proc, const std::vector<std::string>& names,
                     std::map<std::string, ProcessHold, decltype(&PidOrder)>& holds) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(proc, ec)) {
    const std::string pid = entry.path().filename().string();
    if (!AllDigits(pid)) continue;
    std::error_code ec2;
    for (const fs::directory_entry& fd : fs::directory_iterator(entry.path() / "fd", ec2)) {
      std::error_code ec3;
      const std::string target = fs::read_symlink(fd.path(), ec3).string();
      if (ec3 || target.rfind("/dev/", 0) != 0) continue;
      if (std::find(names.begin(), names.end(), target.substr(5)) != names.end()) {
        holds[pid].open.insert(target);
      }
    }
  }
}

std::string Describe(const fs::path& proc, const std::string& pid, const ProcessHold& hold,
                     const std::string& diskName) {
  std::string text = Process(proc, pid);
  if (hold.lock) text += " holds a lock on /dev/" + diskName;
  if (!hold.open.empty()) {
    text += hold.lock ? " and has " : " has ";
    bool first = true;
    for (const std::string& path : hold.open) {
      text += (first ? "" : ", ") + path;
      first = false;
    }
    text += " open";
  }
  return text;
}

}  // namespace

std::vector<std::string> DiskHolders(const std::string& root, const std::string& diskName,
                                     const DiskFileInfo& node) {
  const fs::path proc = fs::path(root) / "proc";
  const fs::path diskDir = fs::path(root) / "sys/block" / diskName;
  const std::vector<std::string> names = DiskAndPartitions(diskDir, diskName);
  std::map<std::string, ProcessHold, decltype(&PidOrder)> holds(&PidOrder);
  ReadLockHolders(proc, node, holds);
  ReadOpenHolders(proc, names, holds);

  std::vector<std::string> out;
  for (const auto& [pid, hold] : holds) out.push_back(Describe(proc, pid, hold, diskName));
  // Device-mapper and md devices built on the disk or a partition.
  for (const std::string& name : names) {
    const fs::path holders = name == diskName ? diskDir / "holders" : diskDir / name / "holders";
    std::error_code ec;
    for (const fs::directory_entry& h : fs::directory_iterator(holders, ec)) {
      out.push_back(h.path().filename().string() + " is built on /dev/" + name);
    }
  }
  // A message box has room for a few; the rest are counted.
  if (out.size() > kMaxHoldersNamed) {
    const size_t more = out.size() - kMaxHoldersNamed;
    out.resize(kMaxHoldersNamed);
    out.push_back("and " + std::to_string(more) + " more");
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
