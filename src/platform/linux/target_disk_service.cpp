#include "platform/linux/target_disk_service.h"

#include <algorithm>
#include <cstring>

#include "platform/fs/file_access.h"
#include "platform/linux/disk_open.h"
#include "platform/linux/errno_status.h"

namespace tarnwick {

TargetDiskService::TargetDiskService(std::vector<std::string> targets, bool allowFixed,
                                     LinuxDiskOptions options)
    : m_targets(std::move(targets)),
      m_bAllowFixed(allowFixed),
      m_options(std::move(options)),
      m_sys(m_options.sys ? *m_options.sys : RealDiskSysCalls()) {
  if (m_targets.size() > kMaxDiskSlots) m_targets.resize(kMaxDiskSlots);
}

std::string TargetDiskService::Check(const std::string& path, DiskFileInfo& info,
                                     DiskReport* disk) {
  if (const int err = m_sys.Stat(path, info); err != 0) return path + ": " + std::strerror(err);
  if (info.isRegularFile) return {};
  if (!info.isBlockDevice) {
    return path + " is " + PathKindName(KindOfPath(path)) +
           ": neither a block device nor a card image file";
  }
  if (std::string refusal = TestTreeRefusal(m_options, path); !refusal.empty()) return refusal;

  const DiskSurvey survey(MakeSurveyOptions(m_options), m_sys);
  const std::string name = survey.NodeName(path);
  if (name.empty()) return path + " is refused: unknown block device";
  if (survey.IsPartition(name)) return path + " is refused: a partition, not a whole disk";
  const bool loop = name.rfind("loop", 0) == 0;
  if (IsVirtualDiskName(name) && !loop) return path + " is refused: not a disk that holds a card";
  *disk = survey.Describe(name);
  if (disk->verdict == DiskVerdict::SystemDisk) return path + " is refused: " + disk->reason;
  if (disk->sysfsBytes == 0) return path + " is refused: no medium";
  if (disk->verdict != DiskVerdict::Accepted && !m_bAllowFixed) {
    return path +
           " is refused: " + (loop ? "a loop device, which counts as a fixed disk" : disk->reason);
  }
  for (const DiskMount& m : disk->mounts) {
    if (!IsAutomountPoint(m.mountPoint)) {
      return path + " is refused: " + m.device + " is mounted at " + m.mountPoint +
             "; unmount it first";
    }
  }
  return {};
}

std::string TargetDiskService::CheckTarget(const std::string& path) {
  DiskFileInfo info;
  DiskReport disk;
  return Check(path, info, &disk);
}

std::vector<DiskSlot> TargetDiskService::Slots() {
  std::vector<DiskSlot> slots;
  for (const std::string& t : m_targets) slots.push_back({t});
  return slots;
}

std::unique_ptr<IDiskQuery> TargetDiskService::OpenForQuery(const std::string& path) {
  DiskFileInfo info;
  DiskReport disk;
  if (!Check(path, info, &disk).empty()) return nullptr;
  if (info.isRegularFile) return QueryImageFile(m_sys, path);
  // An allowed fixed disk is probed as removable media: naming it as a
  // target is the operator's decision to burn it.
  return QueryBlockDevice(m_sys, path, true, disk.sysfsBytes);
}

SysResult<std::unique_ptr<IDiskWriter>> TargetDiskService::OpenForWrite(const std::string& path) {
  if (std::find(m_targets.begin(), m_targets.end(), path) == m_targets.end()) {
    return Refusal(std::errc::invalid_argument, path + " is not one of the named targets");
  }
  DiskFileInfo info;
  DiskReport disk;
  if (std::string refusal = Check(path, info, &disk); !refusal.empty()) {
    return Refusal(std::errc::operation_not_permitted, std::move(refusal));
  }
  if (info.isRegularFile) return OpenImageForWrite(m_sys, path);
  return OpenCardForWrite(m_sys, path, disk.mounts, MakeCardOpenHost(m_options, m_sys, path));
}

}  // namespace tarnwick
