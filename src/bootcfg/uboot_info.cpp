#include <algorithm>

#include "bootcfg/boot_info.h"
#include "bootcfg/config_fields.h"
#include "common/le.h"
#include "common/sector.h"
#include "layout/card_layout.h"

namespace tarnwick {

static_assert(sizeof(UBootInfo) == 1740);
static_assert(kUBootInfoSectorBytes == 4 * kSectorSize && kUBootInfoSize <= kUBootInfoSectorBytes);
static_assert(kDdrEntrySize == 344 && kClkEntrySize == 76);
static_assert(ubootinfo::kDdrInfo + kDdrClkTables * kDdrEntrySize == ubootinfo::kClkInfo);
static_assert(ubootinfo::kClkInfo + kDdrClkTables * kClkEntrySize == ubootinfo::kUBootInfoCrc);
static_assert(ubootinfo::kUBootInfoCrc + 4 == kUBootInfoSize);
static_assert(ubootinfo::kBootImgFlag + 4 == ubootinfo::kDdrInfo);

bool ReadDdrClkTables(UBootInfo& record, const BoardConfig& config) {
  for (const ConfigSection& section : DdrClkSections()) ReadSection(record.data(), section, config);
  return true;
}

void FillUBootInfoHeader(UBootInfo& record, const CCrc32& crc, uint32_t bootPartitionStart,
                         uint32_t bootResLength, uint32_t bootImgLength) {
  uint8_t* p = record.data();
  std::fill(p, p + ubootinfo::kDdrInfo, 0);  // the reserved header words
  const uint32_t bootResStart = bootPartitionStart + static_cast<uint32_t>(kBootResOffset);
  PutU32(p, ubootinfo::kBootEnvStart, bootPartitionStart + static_cast<uint32_t>(kBootEnvOffset));
  PutU32(p, ubootinfo::kBootEnvSize, kBootEnvBytes);
  PutU32(p, ubootinfo::kBootResStart, bootResStart);
  PutU32(p, ubootinfo::kBootResSize, bootResLength);
  PutU32(p, ubootinfo::kBootResFlag, 1);
  PutU32(p, ubootinfo::kBootImgStart,
         bootResStart + bootResLength / kSectorSize + static_cast<uint32_t>(kBootResToBootImgGap));
  PutU32(p, ubootinfo::kBootImgSize, bootImgLength);
  PutU32(p, ubootinfo::kBootImgFlag, 1);
  PutU32(p, ubootinfo::kUBootInfoCrc, crc.Compute(p, ubootinfo::kUBootInfoCrc));
}

}  // namespace tarnwick
