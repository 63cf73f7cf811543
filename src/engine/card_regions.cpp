#include "engine/card_regions.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

#include "common/printf_format.h"
#include "common/sector.h"

namespace tarnwick {
namespace {

// Sector numbers are 32-bit on the card: nothing may reach sector 2^32.
constexpr uint64_t kSectorLimit = uint64_t{1} << 32;

std::string Format(const char* format, ...) TW_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
  std::array<char, 512> buffer{};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  return buffer.data();
}

unsigned long long Ull(uint64_t v) {
  return static_cast<unsigned long long>(v);
}

uint64_t BytesToSectors(uint64_t len) {
  return (len + kSectorSize - 1) / kSectorSize;
}

// Places an image of len bytes at start inside its room [roomFirst, roomEnd):
// its bytes must fit, and the n(len) rule's trailing zero sector is dropped
// where it would fall outside the room. An image that is not written is
// placed alike but never refused; what lies outside its room is cut off.
bool PlaceImage(const char* name, uint64_t len, uint64_t start, uint64_t roomFirst,
                uint64_t roomEnd, SectorRun& run, std::string& reason, bool written = true,
                std::string* advice = nullptr) {
  if (!written) {
    run.first = start;
    run.count = start < roomEnd ? std::min<uint64_t>(ImageSectorCount(len), roomEnd - start) : 0;
    return true;
  }
  if (start < roomFirst || start > roomEnd || BytesToSectors(len) > roomEnd - start) {
    reason = Format("%s of %llu bytes at 0x%llx does not fit its room [0x%llx, 0x%llx)", name,
                    Ull(len), Ull(start), Ull(roomFirst), Ull(roomEnd));
    if (advice) {
      *advice = Format("; it needs %llu sectors from 0x%llx, where the room holds %llu",
                       Ull(BytesToSectors(len)), Ull(start),
                       Ull(start >= roomFirst && start < roomEnd ? roomEnd - start : 0));
    }
    return false;
  }
  run.first = start;
  run.count = std::min<uint64_t>(ImageSectorCount(len), roomEnd - start);
  return true;
}

uint64_t RoundUp8(uint64_t x) {
  return (x + 7) / 8 * 8;
}

// The FAT32 partition the plan gives a card of card sectors whose other
// rooms take rooms sectors (the plan's own rounding), or 0 when none fits.
uint64_t PlannedFat32(uint64_t card, uint64_t rooms) {
  if (card < rooms + 126 + 16) return 0;
  uint64_t rest = card - rooms;
  if (rest % 8 != 0) rest = (rest / 8 - 1) * 8;
  return rest - 126;
}

// Whether a FAT32 partition of fat32 sectors holds its file system: the
// reserved sectors, both FATs and the first cluster.
bool Fat32Fits(uint64_t fat32) {
  return fat32 > 0 && 34 + 2 * Fat32FatSectors(fat32) + kFat32TailSectors <= fat32;
}

// The smallest card, in whole cylinders of 255 x 63 sectors, on which the
// plan's partitions and a FAT32 file system fit, as a phrase to follow a refusal.
std::string NeededCardSize(const PartitionPlan& plan) {
  constexpr uint64_t kCylinder = 255 * 63;
  const uint64_t rooms = RoundUp8(plan.m_arrTotalSectors[1]) + RoundUp8(plan.m_arrTotalSectors[2]) +
                         RoundUp8(plan.m_arrTotalSectors[3]);
  uint64_t cylinders = (rooms + 126 + 16 + kCylinder - 1) / kCylinder;
  while (!Fat32Fits(PlannedFat32(cylinders * kCylinder, rooms))) ++cylinders;
  const uint64_t sectors = cylinders * kCylinder;
  return Format("; the card would need at least %llu sectors (%llu bytes)", Ull(sectors),
                Ull(sectors * kSectorSize));
}

bool CheckPlan(const PartitionPlan& plan, CardRegions& r, std::string& reason,
               std::string& advice) {
  static constexpr std::array<const char*, 3> kSlotNames = {"System", "Data", "Cache"};
  for (size_t i = 0; i < plan.m_arrSlotSize.size(); ++i) {
    if (plan.m_arrSlotSize[i] <= kEbrTrack) {
      reason = Format(
          "%s slot of %llu sectors leaves no room after its 63-sector EBR track (\"Partition_%s\" "
          "of section \"PARTITION_SECTORS\")",
          kSlotNames[i], Ull(plan.m_arrSlotSize[i]), kSlotNames[i]);
      return false;
    }
  }
  const uint64_t card = plan.m_nCardSize;
  const uint64_t fat32 = plan.m_arrTotalSectors[0];
  // The plan subtracts the other rooms from the card size: a card too small
  // for them leaves a FAT32 length that wrapped around.
  if (fat32 == 0 || fat32 >= card) {
    reason = Format(
        "card of %llu sectors is too small for the configured partitions (section "
        "\"PARTITION_SECTORS\")",
        Ull(card));
    advice = NeededCardSize(plan);
    return false;
  }
  r.cardSize = card;
  r.X = plan.m_arrStartSector[1];
  r.R = plan.m_arrStartSector[2];
  r.P = plan.m_arrStartSector[3];
  r.L1 = plan.m_arrSlotSize[0];
  r.L2 = plan.m_arrSlotSize[0] + plan.m_arrSlotSize[1];
  const uint64_t fat32End = plan.m_arrStartSector[0] + fat32;
  const uint64_t extendedEnd = r.X + r.L2 + plan.m_arrSlotSize[2];
  const uint64_t recoveryEnd = r.R + plan.m_arrTotalSectors[2];
  const uint64_t bootEnd = r.P + plan.m_arrTotalSectors[3];
  if (fat32End > r.X || extendedEnd > r.R || recoveryEnd > r.P || bootEnd > card) {
    reason =
        Format("partition plan does not fit a card of %llu sectors (section \"PARTITION_SECTORS\")",
               Ull(card));
    advice = NeededCardSize(plan);
    return false;
  }
  if (bootEnd > kSectorLimit) {
    reason = Format("card of %llu sectors needs sector numbers beyond 32 bits (2 TiB)", Ull(card));
    return false;
  }
  return true;
}

bool CheckFat32(const PartitionPlan& plan, const Fat32Layout& fat, std::string& reason,
                std::string& advice) {
  const uint64_t fat32End = plan.m_arrStartSector[0] + plan.m_arrTotalSectors[0];
  if (uint64_t{fat.m_nFirstDirSector} + kFat32TailSectors > fat32End) {
    reason = Format("FAT32 partition of %llu sectors is too small for its file system",
                    Ull(plan.m_arrTotalSectors[0]));
    advice = NeededCardSize(plan);
    return false;
  }
  return true;
}

bool PlaceUBootCopies(const BootInfo& bootInfo, uint32_t uBootBinLength, CardRegions& r,
                      std::string& reason) {
  const unsigned copies = std::min(ImageStoreNum(bootInfo), kMaxImageStore);
  const uint64_t sectors = ImageLen(bootInfo) / kSectorSize;
  if (copies > 0 && sectors < BytesToSectors(uBootBinLength)) {
    reason = Format("UBootBin of %u bytes is too large for its copies", uBootBinLength);
    return false;
  }
  r.uBootCopies.clear();
  for (unsigned i = 0; i < copies; ++i) {
    const uint64_t at = ImageStoreCoreAddr(bootInfo, i);
    if (at < kFirstCopySector || at + sectors > kBootEnvOffset) {
      reason = Format(
          "UBootBin copy %u at Boot sector 0x%llx (0x%llx sectors) lies outside "
          "sectors 16 to 8191",
          i, Ull(at), Ull(sectors));
      return false;
    }
    for (unsigned j = 0; j < i; ++j) {
      const uint64_t other = r.uBootCopies[j].first - r.P;
      if (sectors > 0 && at < other + sectors && other < at + sectors) {
        reason = Format("UBootBin copies %u and %u overlap", j, i);
        return false;
      }
    }
    r.uBootCopies.push_back({r.P + at, sectors});
  }
  return true;
}

bool PlaceImages(const PartitionPlan& plan, const CardImageLengths& len, CardRegions& r,
                 std::string& reason, PackSlotSet skipped, std::string& advice) {
  auto written = [skipped](PackSlot slot) { return (skipped & SlotBit(slot)) == 0; };
  const uint64_t bootEnd = r.P + plan.m_arrTotalSectors[3];
  const uint64_t bootResStart = r.P + kBootResOffset;
  const uint64_t bootImgStart = bootResStart + len.bootRes / kSectorSize + kBootResToBootImgGap;
  const uint64_t systemStart = r.X + kEbrTrack;
  const uint64_t dataStart = r.X + r.L1 + kEbrTrack;
  const uint64_t cacheStart = r.X + r.L2 + kEbrTrack;
  return PlaceImage("BootEnv", kBootEnvBytes, r.P + kBootEnvOffset, r.P, bootEnd, r.bootEnv, reason,
                    true, &advice) &&
         PlaceImage("BootRes", len.bootRes, bootResStart, r.P, bootEnd, r.bootRes, reason,
                    written(PackSlot::BootRes), &advice) &&
         PlaceImage("BootImg", len.bootImg, bootImgStart, r.P, bootEnd, r.bootImg, reason,
                    written(PackSlot::BootImg), &advice) &&
         PlaceImage("BootRecover", len.bootRecover, r.R, r.R, r.R + plan.m_arrTotalSectors[2],
                    r.bootRecover, reason, written(PackSlot::BootRecover), &advice) &&
         PlaceImage("System", len.system, systemStart, systemStart,
                    systemStart + plan.m_arrEpTotalSector[0], r.system, reason,
                    written(PackSlot::System), &advice) &&
         PlaceImage("Data", len.data, dataStart, dataStart, dataStart + plan.m_arrEpTotalSector[1],
                    r.data, reason, written(PackSlot::Data), &advice) &&
         PlaceImage("Cache", len.cache, cacheStart, cacheStart,
                    cacheStart + plan.m_arrEpTotalSector[2], r.cache, reason,
                    written(PackSlot::Cache), &advice);
}

}  // namespace

SysResult<CardRegions> BuildCardRegions(const PartitionPlan& plan, const CardImageLengths& lengths,
                                        const BootInfo& bootInfo, const Fat32Layout& fat,
                                        PackSlotSet skipped, std::string* advice) {
  CardRegions regions;
  std::string reason;
  std::string needed;
  if (CheckPlan(plan, regions, reason, needed) && CheckFat32(plan, fat, reason, needed) &&
      PlaceImages(plan, lengths, regions, reason, skipped, needed) &&
      PlaceUBootCopies(bootInfo, lengths.uBootBin, regions, reason)) {
    return regions;
  }
  // The card is refused as it is: nothing on it has the room it needs.
  if (advice) *advice = std::move(needed);
  return SysStatus(std::make_error_code(std::errc::no_space_on_device), std::move(reason));
}

}  // namespace tarnwick
