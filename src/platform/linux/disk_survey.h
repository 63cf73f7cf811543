#pragma once
// The survey of the host's disks that card discovery, the disks report and
// every open for writing rest on: which whole disks exist, which of them are
// system disks (and why), which are removable, empty or eMMC, and where their
// partitions are mounted. Everything is read under a root folder ("/" on a
// real host) so that tests describe a host with a fake tree.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/linux/disk_sys_calls.h"

namespace tarnwick {

enum class DiskVerdict {
  Accepted,     // a card discovery burns
  SystemDisk,   // holds the running system or one of the protected paths
  NotCardType,  // not a card reader or SD slot (nvme, virtio, ...)
  Emmc,         // soldered eMMC
  Fixed,        // reports fixed media
  Empty,        // a reader without a card
  BeyondSlots,  // accepted by the rule but past the 13th slot
};

struct DiskMount {
  std::string device;      // the mounted node, e.g. "/dev/sdb1"
  std::string mountPoint;  // where it is mounted
};

struct DiskReport {
  std::string name;        // "sdb"
  std::string devicePath;  // "/dev/sdb"
  DiskVerdict verdict = DiskVerdict::Accepted;
  std::string reason;  // why the verdict, for the operator
  bool removable = false;
  uint64_t sysfsBytes = 0;
  std::vector<std::string> systemUses;  // "/", "swap /dev/sda3", "pack file /x.pack"
  std::vector<DiskMount> mounts;        // every mounted partition of this disk
  // What the device says it is, where the system can tell (empty otherwise).
  std::string vendor, model, serial;
};

// loop, ram, zram, dm, md, sr and nbd devices: never a card.
bool IsVirtualDiskName(const std::string& name);

// Mounts that a desktop makes for removable media; a card mounted there is
// unmounted before it is written.
bool IsAutomountPoint(const std::string& mountPoint);

struct SurveyOptions {
  std::string root = "/";
  std::vector<ProtectedPath> protectedPaths;
};

class DiskSurvey {
 public:
  // Reads the tree once; protected paths are resolved to disks with sys.Stat
  // and through the mount table.
  DiskSurvey(const SurveyOptions& options, DiskSysCalls& sys);

  // Whole disks in name order (mmcblk0 before sda, sdz before sdaa), with their
  // verdicts. Virtual devices (loop, ram, zram, dm, md, sr, nbd) and the boot
  // and RPMB areas of eMMC are not listed.
  const std::vector<DiskReport>& Disks() const { return m_disks; }
  // The loop devices that have a file attached, never cards, for the disks
  // report's left-out list.
  std::vector<DiskReport> LoopDevices() const;

  // The disk report for a device path: by name, or by the device number of
  // the node the path leads to. nullptr when the path is no listed disk.
  const DiskReport* Find(const std::string& path) const;

  // The kernel name of the block device at a device path ("sdb", "loop3",
  // "sdb1", "dm-0"); empty when unknown.
  std::string NodeName(const std::string& path) const;
  // True when the name is a partition of a disk.
  bool IsPartition(const std::string& name) const;
  // The report of any block device by name, with the verdict of the rule
  // (a device of another kind than sd or mmcblk is NotCardType).
  DiskReport Describe(const std::string& name) const;

 private:
  struct Node {
    std::string disk;  // the whole disk the node belongs to (itself for a disk)
    std::vector<std::string> slaves;
  };
  struct Mount {
    std::string devNum;  // "8:1"
    std::string source;
    std::string mountPoint;
  };

  void ReadBlockTree();
  void ReadMounts();
  void ReadSwaps();
  void ResolveProtected(const std::vector<ProtectedPath>& paths);
  void BuildReports();

  std::string ReadAttr(const std::string& relPath) const;
  // Vendor, model and serial number from sysfs and the udev database.
  void ReadIdentity(DiskReport& report) const;
  // The system uses of the disk that a block device name belongs to.
  std::vector<std::string> SystemUsesOf(const std::string& name) const;
  // Mounts of a disk's partitions and of what is built on them.
  std::vector<DiskMount> MountsOf(const std::string& name) const;
  bool IsRemovable(const std::string& name) const;
  std::string NameOfSource(const std::string& source) const;
  // The block device of a mount: by its device number, else by its source.
  std::string NameOfMount(const Mount& mount) const;
  std::string NameOfMountHolding(const std::string& path) const;
  // The physical whole disks under a block device name, through partitions
  // and device-mapper or md slaves.
  std::vector<std::string> DisksUnder(const std::string& name, int depth = 0) const;
  void MarkSystem(const std::string& name, const std::string& use);

  DiskSysCalls& m_sys;
  std::string m_root;
  std::map<std::string, Node> m_nodes;            // every disk and partition by name
  std::map<std::string, std::string> m_byDevNum;  // "8:1" -> "sda1"
  std::map<std::string, std::string> m_dmByName;  // "vg-root" -> "dm-0"
  std::vector<Mount> m_mounts;
  std::map<std::string, std::vector<std::string>> m_systemUses;  // disk name -> uses
  std::vector<DiskReport> m_disks;
};

// The one-line text of a verdict for the disks report.
const char* VerdictText(DiskVerdict verdict);

}  // namespace tarnwick
