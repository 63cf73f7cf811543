#pragma once
// The identity of one appearance of a disk: the kernel numbers every disk it
// adds (diskseq, Linux 5.15 and later), and never gives that number again
// until it restarts, so a disk that goes and comes back, or another disk that
// takes its name, has a new one.
#include <string>

namespace tarnwick {

// The instance of the disk whose sysfs folder is sysBlockDir
// (".../sys/block/sdb"), as "diskseq 17"; empty when the kernel does not say.
std::string ReadDiskInstance(const std::string& sysBlockDir);
// The same form from the kernel's number as text (sysfs or udev's DISKSEQ
// property); empty unless it is a number.
std::string DiskInstanceFromSeq(std::string seq);

}  // namespace tarnwick
