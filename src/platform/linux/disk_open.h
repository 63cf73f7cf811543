#pragma once
// Opening block devices and card image files for the geometry probe and for
// writing, with the safety steps a real card needs before it is written.
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/linux/disk_survey.h"
#include "platform/linux/disk_sys_calls.h"

namespace tarnwick {

// The probe of a block device: its capacity (BLKGETSIZE64) formed into a
// geometry. nullptr when it cannot be opened or holds no medium.
std::unique_ptr<IDiskQuery> QueryBlockDevice(DiskSysCalls& sys, const std::string& path,
                                             bool removable);
// The probe of a card image file: removable media of the file's size.
std::unique_ptr<IDiskQuery> QueryImageFile(DiskSysCalls& sys, const std::string& path);

// Opens an existing card image file for writing (locked against a second
// writer).
SysResult<std::unique_ptr<IDiskWriter>> OpenImageForWrite(DiskSysCalls& sys,
                                                          const std::string& path);

// Opens a card's block device for writing: a card mounted outside the
// desktop's automount folders is refused (nothing is unmounted then); its
// automounted partitions are unmounted; the device is opened exclusively and
// locked so that nothing mounts or probes it until it is closed.
SysResult<std::unique_ptr<IDiskWriter>> OpenCardForWrite(DiskSysCalls& sys, const std::string& path,
                                                         const std::vector<DiskMount>& mounts);

}  // namespace tarnwick
