#include "platform/linux/disk_rights.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>

#include "platform/host.h"
#include "platform/linux/udisks_open.h"

namespace tarnwick {

bool JudgeDiskRights(uint32_t euid, const std::vector<uint32_t>& groups,
                     std::optional<uint32_t> diskGroup) {
  if (euid == 0) return true;
  return diskGroup && std::find(groups.begin(), groups.end(), *diskGroup) != groups.end();
}

bool HasRawDiskRights() {
  std::vector<uint32_t> groups{static_cast<uint32_t>(::getegid())};
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> supplementary(static_cast<size_t>(count));
    const int got = ::getgroups(count, supplementary.data());
    for (int i = 0; i < got; ++i) groups.push_back(static_cast<uint32_t>(supplementary[i]));
  }
  std::optional<uint32_t> disk;
  if (const struct group* entry = ::getgrnam("disk")) disk = static_cast<uint32_t>(entry->gr_gid);
  return JudgeDiskRights(static_cast<uint32_t>(::geteuid()), groups, disk);
}

UserDiskService UserDiskServiceState() {
  switch (ProbeUdisks(SystemUdisksBus())) {
    case UdisksState::Reachable:
      return UserDiskService::Reachable;
    case UdisksState::NotRunning:
      return UserDiskService::NotRunning;
    case UdisksState::NotInstalled:
      break;
  }
  return UserDiskService::NotInstalled;
}

}  // namespace tarnwick
