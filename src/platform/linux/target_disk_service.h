#pragma once
// A disk service over targets named explicitly (command line): card image
// files, and block devices that pass the discovery rule. Allowing fixed disks
// lifts the removable rule only; a system disk is refused whatever is asked.
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/linux/linux_disk_service.h"

namespace tarnwick {

class TargetDiskService final : public IDiskService {
 public:
  TargetDiskService(std::vector<std::string> targets, bool allowFixed,
                    LinuxDiskOptions options = {});

  // Why a target would be refused; empty when it is accepted. OpenForWrite
  // applies the same check again.
  std::string CheckTarget(const std::string& path);

  // The targets in the order given, at most 13.
  std::vector<DiskSlot> Slots() override;
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override;
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override;

 private:
  // Fills *disk for a block device target; the refusal text, or empty.
  std::string Check(const std::string& path, DiskFileInfo& info, DiskReport* disk);

  std::vector<std::string> m_targets;
  bool m_bAllowFixed;
  LinuxDiskOptions m_options;
  DiskSysCalls& m_sys;
};

}  // namespace tarnwick
