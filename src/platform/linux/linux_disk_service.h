#pragma once
// The Linux disk service of card discovery: the host's removable card readers
// and SD slots, never a system disk.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/disk_service.h"
#include "platform/linux/disk_open.h"
#include "platform/linux/disk_survey.h"
#include "platform/linux/disk_sys_calls.h"

namespace tarnwick {

struct LinuxDiskOptions {
  // Where sys/block, proc/self/mountinfo and proc/swaps are read ("/" on a host).
  std::string root = "/";
  // Files whose disks are never written: pack, configuration and settings
  // files. The working directory is always added.
  std::vector<ProtectedPath> protectedPaths;
  // The operating-system calls; nullptr means the real ones. With the real
  // calls and a root other than "/", nothing is ever opened: the tree
  // describes another host, and its device names mean nothing here.
  DiskSysCalls* sys = nullptr;
  // The clock of the waits for a busy card; nullptr means the real one.
  IClock* clock = nullptr;
  // udisks2 for a user who may not open a card; nullptr means the one on the
  // system bus with the real calls, and none with fake ones.
  IUdisksBus* udisks = nullptr;
};

// Why the service's disks cannot be opened: empty on a real host, or when the
// calls are fakes.
std::string TestTreeRefusal(const LinuxDiskOptions& options, const std::string& path);

// The survey options with the working directory added to the protected paths.
SurveyOptions MakeSurveyOptions(const LinuxDiskOptions& options);

// The host that opening a card needs; the mounts of the disk at path are
// surveyed afresh whenever asked.
CardOpenHost MakeCardOpenHost(const LinuxDiskOptions& options, DiskSysCalls& sys,
                              const std::string& path);

class LinuxDiskService final : public IDiskService {
 public:
  explicit LinuxDiskService(LinuxDiskOptions options = {});

  // The accepted cards, in name order, at most 13.
  std::vector<DiskSlot> Slots() override;
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override;
  // Only a disk that the discovery rule accepts right now is opened.
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override;
  std::string DiskInstanceOf(const std::string& path) override;

  // Every whole disk with its verdict, then the attached loop devices, for
  // the disks report.
  std::vector<DiskReport> ListDisks();

 private:
  DiskSurvey Survey();

  LinuxDiskOptions m_options;
  DiskSysCalls& m_sys;
};

}  // namespace tarnwick
