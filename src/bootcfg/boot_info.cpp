#include "bootcfg/boot_info.h"

#include <cstring>

#include "bootcfg/config_fields.h"
#include "common/debug_log.h"
#include "common/le.h"
#include "common/sector.h"
#include "layout/card_layout.h"

namespace tarnwick {

static_assert(sizeof(BootInfo) == 512 && kBootInfoSize == kSectorSize);
static_assert(sizeof(kBootInfoMagic) - 1 == 8);
static_assert(bootinfo::kImageLen + 4 == bootinfo::kImageCrc);
static_assert(bootinfo::kInfoCrc + 4 == kBootInfoSize);

namespace {

// R: the image length rounded up to whole sectors (0 stays 0).
uint32_t RoundedLength(uint32_t imageLength) {
  if (imageLength % kSectorSize == 0) return imageLength;
  return (imageLength / kSectorSize + 1) * kSectorSize;
}

// The record holds eight copy positions, so a copy count above 8 would let the
// board (and the burn) read past them: it is limited to 8.
void LimitImageStoreNum(BootInfo& record) {
  const uint32_t num = GetU8(record.data(), bootinfo::kImageStoreNum);
  if (num <= kMaxImageStore) return;
  DebugLog(1, "BuildBootInfo: imageStoreNum %d limited to 8\n", static_cast<int>(num));
  PutU8(record.data(), bootinfo::kImageStoreNum, kMaxImageStore);
}

// Without an explicit first position the copies lie back to back from sector
// 16 of the Boot partition, each R bytes long.
void ComputeCopyPositions(BootInfo& record, uint32_t rounded) {
  uint8_t* p = record.data();
  if (GetU32(p, bootinfo::kImageStoreCoreAddr) != 0) return;
  const uint32_t num = GetU8(p, bootinfo::kImageStoreNum);
  for (uint32_t i = 0; i < num; ++i)
    PutU32(p, bootinfo::kImageStoreCoreAddr + 4 * i, (i * rounded) / kSectorSize + 16);
}

}  // namespace

void BuildBootInfo(BootInfo& record, const CCrc32& crc, const BoardConfig& config,
                   uint32_t imageLength, const uint8_t* imageBytes, int mode) {
  uint8_t* p = record.data();
  record.fill(0);
  std::memcpy(p + bootinfo::kMagic, kBootInfoMagic, 8);
  const uint32_t rounded = RoundedLength(imageLength);
  PutU32(p, bootinfo::kImageLen, rounded);
  PutU32(p, bootinfo::kImageCrc, crc.Compute(imageBytes, rounded));

  for (const ConfigSection& section : BootInfoSections(mode)) {
    ReadSection(p, section, config);
    if (section.name == "imageStoreInfor") {
      LimitImageStoreNum(record);
      ComputeCopyPositions(record, rounded);
    }
  }

  PutU32(p, bootinfo::kInfoCrc, crc.Compute(p, bootinfo::kInfoCrc));
}

uint32_t ImageLen(const BootInfo& record) {
  return GetU32(record.data(), bootinfo::kImageLen);
}

uint32_t ImageStoreNum(const BootInfo& record) {
  return GetU8(record.data(), bootinfo::kImageStoreNum);
}

uint32_t ImageStoreCoreAddr(const BootInfo& record, unsigned i) {
  if (i >= kMaxImageStore) return 0;
  return GetU32(record.data(), bootinfo::kImageStoreCoreAddr + 4 * i);
}

}  // namespace tarnwick
