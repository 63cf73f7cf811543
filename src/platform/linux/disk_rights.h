#pragma once
// Whether this process may write whole disks and talk to boards: root, or a
// member of the group "disk" (which can write every disk of the machine, so
// it is as good as root). Judged from the user and group ids alone: opening a
// disk to find out would make udev probe it again.
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnwick {

bool JudgeDiskRights(uint32_t euid, const std::vector<uint32_t>& groups,
                     std::optional<uint32_t> diskGroup);

// The judgement for this process (effective user, effective and
// supplementary groups) is HasRawDiskRights() of platform/host.h.

}  // namespace tarnwick
