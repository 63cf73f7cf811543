#pragma once
// The card discovery rule: which probed disks a burn run writes, and how many
// 512-byte sectors each one has.
#include <cstdint>

#include "platform/disk_service.h"

namespace tarnwick {

// A disk is burned when it reports removable media and a usable geometry.
bool IsBurnableCard(const DiskGeometry& geometry);

// Cylinders x tracks x sectors per track x bytes per sector, in 512-byte
// sectors whatever the disk's own sector size.
uint64_t CardSectors(const DiskGeometry& geometry);

}  // namespace tarnwick
