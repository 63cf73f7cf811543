#pragma once
// Opening block devices and card image files for the geometry probe and for
// writing, with the safety steps a real card needs before it is written.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/disk_service.h"
#include "platform/linux/disk_survey.h"
#include "platform/linux/disk_sys_calls.h"
#include "platform/linux/udisks_open.h"

namespace tarnwick {

// The probe of a block device: its capacity (BLKGETSIZE64) formed into a
// geometry. A device this process has no rights to open is given the
// capacity sysfs reports, sysfsBytes (udisks2 may open it for writing).
// nullptr when it cannot be opened otherwise or holds no medium.
std::unique_ptr<IDiskQuery> QueryBlockDevice(DiskSysCalls& sys, const std::string& path,
                                             bool removable, uint64_t sysfsBytes = 0);
// The probe of a card image file: removable media of the file's size.
std::unique_ptr<IDiskQuery> QueryImageFile(DiskSysCalls& sys, const std::string& path);

// Opens an existing card image file for writing (locked against a second
// writer).
SysResult<std::unique_ptr<IDiskWriter>> OpenImageForWrite(DiskSysCalls& sys,
                                                          const std::string& path);

// How long a card that another program holds for the moment (udev's probe
// after an arrival or after the previous writer closed it, a desktop's disk
// service) is waited for, and how long a card that has just arrived is given
// for udev to finish with it.
inline constexpr std::chrono::milliseconds kBusyCardWait{10000};
inline constexpr std::chrono::milliseconds kUdevInitWait{10000};

// What opening a card needs from the host besides the system calls.
struct CardOpenHost {
  IClock& clock;
  // Where proc, sys and run/udev are read ("/" on a host).
  std::string root = "/";
  // The card's mounted partitions as they are now; asked again when the
  // exclusive open finds the card busy (a mount is no passing holder).
  std::function<std::vector<DiskMount>()> mountsNow;
  // udisks2, which opens a card for a user who is not root and has no rights
  // to open it; nullptr: cards are opened by this process only.
  IUdisksBus* udisks = nullptr;
};

// Opens a card's block device for writing: a card mounted outside the
// desktop's automount folders is refused (nothing is unmounted then); its
// automounted partitions are unmounted; the device is opened exclusively and
// locked so that nothing mounts or probes it until it is closed. A card that
// udev has not yet processed is given time for that first; a card that
// another program holds without a mount is waited for, up to kBusyCardWait,
// and when it stays held the failure names the holders the system shows.
// A user other than root who may not open the card has it opened by udisks2
// (polkit asks for authorization), locked in the same way; the partition
// table is then re-read through udisks2 after the card is closed.
SysResult<std::unique_ptr<IDiskWriter>> OpenCardForWrite(DiskSysCalls& sys, const std::string& path,
                                                         const std::vector<DiskMount>& mounts,
                                                         const CardOpenHost& host);

}  // namespace tarnwick
