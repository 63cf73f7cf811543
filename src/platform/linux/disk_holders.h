#pragma once
// Who holds a block device, for the message when a card stays busy: the
// processes that have the disk or one of its partitions open, the process
// that holds a whole-file lock on its node, and kernel devices built on it.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/linux/disk_sys_calls.h"

namespace tarnwick {

// At most this many holders are named; the rest are counted.
inline constexpr size_t kMaxHoldersNamed = 6;

// Read under root ("/" on a host): proc/PID/fd and proc/PID/comm, proc/locks,
// sys/block/NAME (partitions and holders). node is the Stat of the disk's
// device node (its file system and inode identify it in proc/locks). Each
// entry reads like "systemd-udevd (pid 212) holds a lock on /dev/sdb and has
// /dev/sdb, /dev/sdb1 open", one per process, in pid order; empty
// when the system cannot tell (an ordinary user cannot see other users'
// descriptors).
std::vector<std::string> DiskHolders(const std::string& root, const std::string& diskName,
                                     const DiskFileInfo& node);

// True when udev runs on the host (its control socket exists) and has not yet
// finished its first processing of the block device major:minor (no database
// entry).
bool AwaitingUdev(const std::string& root, uint32_t major, uint32_t minor);

}  // namespace tarnwick
