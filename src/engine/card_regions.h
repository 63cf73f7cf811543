#pragma once
// Where one burn puts every region of a card, worked out in 64-bit arithmetic
// before anything is written, and checked against the card: a card whose plan
// wrapped, that needs sector numbers beyond 32 bits, or whose images do not
// fit their rooms is refused while it is still untouched.
#include <cstdint>
#include <string>
#include <vector>

#include "bootcfg/boot_info.h"
#include "common/sys_status.h"
#include "engine/pack_file.h"
#include "layout/card_layout.h"
#include "layout/fat32.h"
#include "layout/partition_plan.h"

namespace tarnwick {

// Sectors of the FAT32 partition that the formatter writes after the root
// directory's first sector (the rest of cluster 2 and the first of cluster 3).
inline constexpr uint64_t kFat32TailSectors = 9;

// A run of sectors the burn writes.
struct SectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
};

// The lengths in bytes of the card images of one burn.
struct CardImageLengths {
  uint32_t uBootBin = 0;
  uint32_t bootImg = 0;
  uint32_t bootRes = 0;
  uint32_t bootRecover = 0;
  uint32_t system = 0;
  uint32_t data = 0;
  uint32_t cache = 0;
};

struct CardRegions {
  uint64_t cardSize = 0;
  uint64_t X = 0;                      // extended partition (System EBR)
  uint64_t R = 0;                      // Recovery partition
  uint64_t P = 0;                      // Boot partition
  uint64_t L1 = 0;                     // Data EBR, relative to X
  uint64_t L2 = 0;                     // Cache EBR, relative to X
  std::vector<SectorRun> uBootCopies;  // the copies written, at most eight
  // Image regions: the n(len) rule, without the trailing zero sector where that
  // sector would fall outside the image's room.
  SectorRun bootImg, bootRes, bootRecover, system, cache, data, bootEnv;
};

// Builds the regions for the plan, the image lengths and the boot loader copy
// table of bootInfo. Fails with the reason (text for the operator and the
// log) when the card cannot be burned safely. The images in skipped are not
// written: their regions are worked out alike, but not checked against
// their rooms. With advice, a refusal for lack of room also gives the size
// that would be needed, as a phrase to follow the reason ("; the card would
// need at least ..."), empty where no size would help.
SysResult<CardRegions> BuildCardRegions(const PartitionPlan& plan, const CardImageLengths& lengths,
                                        const BootInfo& bootInfo, const Fat32Layout& fat,
                                        PackSlotSet skipped = 0, std::string* advice = nullptr);

}  // namespace tarnwick
