#pragma once
// A sysfs/proc tree of a fake host in a temporary folder: disks, partitions,
// mounts and swaps as the disk survey reads them.
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace tarnwick::testing {

// The sysfs and proc files of a fake host.
class FakeDiskTree {
 public:
  std::string Root() const { return m_dir.path().string(); }

  // A whole disk "8:16" with its size in 512-byte sectors and removable flag.
  void Disk(const std::string& name, const std::string& devNum, uint64_t sectors,
            bool removable = true) {
    Put("sys/block/" + name + "/dev", devNum);
    Put("sys/block/" + name + "/size", std::to_string(sectors));
    Put("sys/block/" + name + "/removable", removable ? "1" : "0");
  }
  void Partition(const std::string& disk, const std::string& name, const std::string& devNum) {
    Put("sys/block/" + disk + "/" + name + "/dev", devNum);
    Put("sys/block/" + disk + "/" + name + "/partition", "1");
  }
  // An mmcblk device: "SD" for a card slot, "MMC" for soldered eMMC.
  void Mmc(const std::string& name, const std::string& devNum, const std::string& type) {
    Disk(name, devNum, 15269888, false);
    Put("sys/block/" + name + "/device/type", type);
  }
  // A device-mapper or md device built on other block devices.
  void Virtual(const std::string& name, const std::string& devNum,
               const std::vector<std::string>& slaves, const std::string& dmName = "") {
    Disk(name, devNum, 1000, false);
    for (const std::string& s : slaves) Put("sys/block/" + name + "/slaves/" + s, "");
    if (!dmName.empty()) Put("sys/block/" + name + "/dm/name", dmName);
  }
  void Mount(const std::string& devNum, const std::string& mountPoint, const std::string& source) {
    m_mountinfo += std::to_string(++m_mountId) + " 1 " + devNum + " / " + mountPoint +
                   " rw,relatime shared:1 - ext4 " + source + " rw\n";
    Put("proc/self/mountinfo", m_mountinfo);
  }
  void Swap(const std::string& file, const std::string& type) {
    m_swaps += file + "\t" + type + "\t1048572\t0\t-2\n";
    Put("proc/swaps", m_swaps);
  }
  // A process with a name and descriptors open on device paths.
  void Process(int pid, const std::string& comm, const std::vector<std::string>& openPaths) {
    const std::string dir = "proc/" + std::to_string(pid);
    Put(dir + "/comm", comm);
    std::filesystem::create_directories(m_dir.path() / dir / "fd");
    int fd = 3;
    for (const std::string& target : openPaths) {
      std::filesystem::create_symlink(target, m_dir.path() / dir / "fd" / std::to_string(fd++));
    }
  }
  // Any file of the tree, e.g. "proc/locks" or "run/udev/control".
  void Put(const std::string& rel, const std::string& text) {
    const std::filesystem::path p = m_dir.path() / rel;
    std::filesystem::create_directories(p.parent_path());
    WriteFile(p.string(), text + "\n");
  }

 private:
  TempDir m_dir;
  std::string m_mountinfo;
  std::string m_swaps = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";
  int m_mountId = 20;
};

}  // namespace tarnwick::testing
