#pragma once
// Where a burn puts things on a card, for the burn, the records that point at
// them, the command line's progress and the card inspector: the places inside
// the Boot partition (counted in sectors from its first sector P), the number
// of cards one burn takes, and the FAT size of the formatter.
#include <cstddef>
#include <cstdint>

namespace tarnwick {

// A burn probes this many disk slots and burns at most this many cards.
inline constexpr size_t kMaxDiskSlots = 13;

// The Boot partition, from P.
inline constexpr uint64_t kBootInfoCopies = 4;  // one BootInfo sector each, P + 0..3
inline constexpr uint64_t kUBootInfoOffset = 4;
inline constexpr uint64_t kUBootInfoSectors = 4;
inline constexpr uint64_t kMiscOffset = 8;
inline constexpr uint64_t kMiscSectors = 8;
// The boot loader copies lie in sectors kFirstCopySector..kLoaderAreaEnd - 1.
inline constexpr uint64_t kFirstCopySector = 16;
inline constexpr uint64_t kLoaderAreaEnd = 8192;
inline constexpr uint64_t kBootEnvOffset = kLoaderAreaEnd;
inline constexpr uint32_t kBootEnvBytes = 0x100000;
// The boot environment is written as an image of kBootEnvBytes: its sectors
// and one zero sector after them.
inline constexpr uint64_t kBootEnvSectors = kBootEnvBytes / 512 + 1;
inline constexpr uint64_t kBootResOffset = kBootEnvOffset + 2052;  // 0x2804
inline constexpr uint64_t kBootResToBootImgGap = 4;  // sectors after BootRes's whole sectors

static_assert(kBootInfoCopies == kUBootInfoOffset &&
              kUBootInfoOffset + kUBootInfoSectors == kMiscOffset);
static_assert(kMiscOffset + kMiscSectors <= kFirstCopySector && kBootResOffset == 10244);
static_assert(kBootEnvSectors == 2049);

// The sectors of each FAT of a FAT32 partition of that many sectors: one per
// 1,026 partition sectors (rounded up past an exact multiple), which gives an
// entry to every 8-sector cluster.
constexpr uint64_t Fat32FatSectors(uint64_t partitionSectors) {
  return partitionSectors / 1026 + 1;
}

}  // namespace tarnwick
