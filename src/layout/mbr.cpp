#include "layout/mbr.h"

#include <algorithm>

#include "common/debug_log.h"
#include "common/le.h"
#include "common/sector.h"
#include "layout/bootcode/bootcode.h"

namespace tarnwick {
namespace {

// Fields of a 16-byte partition entry.
constexpr size_t kEntryStatus = 0;
constexpr size_t kEntryChsFirst = 1;
constexpr size_t kEntryType = 4;
constexpr size_t kEntryChsLast = 5;
constexpr size_t kEntryFirstSector = 8;
constexpr size_t kEntrySectorCount = 12;
static_assert(kEntrySectorCount + 4 == kPartitionEntrySize);

constexpr size_t kBootCodeSize = sizeof(kMbrBootCode);
constexpr size_t kDiskSignatureOffset = 440;
constexpr size_t kSignatureOffset = 510;
static_assert(kBootCodeSize == kDiskSignatureOffset);
static_assert(kPartitionEntryOffset == kDiskSignatureOffset + 6);
static_assert(kPartitionEntryOffset + 4 * kPartitionEntrySize == kSignatureOffset);
static_assert(kSignatureOffset + 2 == kSectorSize);

constexpr uint8_t kTypeFat32 = 0x0B;
constexpr uint8_t kTypeExtended = 0x05;
constexpr uint8_t kTypeVendor = 0xBB;
constexpr uint8_t kTypeLinux = 0x83;
constexpr std::array<uint8_t, 4> kMbrTypes = {kTypeFat32, kTypeExtended, kTypeVendor, kTypeVendor};

size_t EntryOffset(int i) {
  return kPartitionEntryOffset + static_cast<size_t>(i) * kPartitionEntrySize;
}

void PutSignature(SectorBytes& record) {
  record[kSignatureOffset] = 0x55;
  record[kSignatureOffset + 1] = 0xAA;
}

void PutEntry(SectorBytes& record, int i, uint8_t type, uint32_t first, uint32_t count) {
  const size_t e = EntryOffset(i);
  PutU8(record.data(), e + kEntryType, type);
  PutU32(record.data(), e + kEntryFirstSector, first);
  PutU32(record.data(), e + kEntrySectorCount, count);
}

uint32_t Low32(uint64_t v) {
  return static_cast<uint32_t>(v);
}

}  // namespace

SectorBytes MbrTemplate() {
  SectorBytes mbr{};
  std::copy_n(kMbrBootCode, kBootCodeSize, mbr.begin());
  // The same disk signature on every card.
  constexpr std::array<uint8_t, 4> kDiskSignature = {0xCA, 0x96, 0xCA, 0x96};
  std::copy(kDiskSignature.begin(), kDiskSignature.end(), mbr.begin() + kDiskSignatureOffset);

  // Entry 0 keeps these status and CHS bytes for every card: CHS 0/1/1 to 1023/254/63.
  const size_t e = EntryOffset(0);
  PutU8(mbr.data(), e + kEntryStatus, 0x00);
  constexpr std::array<uint8_t, 3> kChsFirst = {0x01, 0x01, 0x00};
  constexpr std::array<uint8_t, 3> kChsLast = {0xFE, 0xFF, 0xFF};
  std::copy(kChsFirst.begin(), kChsFirst.end(), mbr.begin() + e + kEntryChsFirst);
  std::copy(kChsLast.begin(), kChsLast.end(), mbr.begin() + e + kEntryChsLast);
  PutEntry(mbr, 0, kTypeFat32, kEbrTrack, 0);

  PutSignature(mbr);
  return mbr;
}

bool BuildMBR(SectorBytes& mbr, const PartitionPlan& plan) {
  for (int i = 0; i < 4; ++i) {
    const uint32_t first = Low32(plan.m_arrStartSector[i]);
    const uint32_t count = Low32(plan.m_arrTotalSectors[i]);
    PutU32(mbr.data(), EntryOffset(i) + kEntryFirstSector, first);
    PutU32(mbr.data(), EntryOffset(i) + kEntrySectorCount, count);
    DebugLog(1, "m_tMBR.Partition[%d]: [0x%x 0x%x]\n", i, first, count);
  }
  for (int i = 0; i < 4; ++i) PutU8(mbr.data(), EntryOffset(i) + kEntryType, kMbrTypes[i]);
  return true;
}

bool BuildEBRs(std::array<SectorBytes, 3>& ebrs, const PartitionPlan& plan) {
  // Entry 0 counts from the EBR's own sector; the link in entry 1 counts from
  // the start of the extended partition and spans the next EBR's whole slot.
  const uint32_t systemSlot = Low32(plan.m_arrEpTotalSector[0]) + kEbrTrack;
  const uint32_t dataSlot = Low32(plan.m_arrEpTotalSector[1]) + kEbrTrack;
  const uint32_t cacheSlot = Low32(plan.m_arrEpTotalSector[2]) + kEbrTrack;
  for (size_t i = 0; i < ebrs.size(); ++i) {
    ebrs[i].fill(0);
    PutEntry(ebrs[i], 0, kTypeLinux, kEbrTrack, Low32(plan.m_arrEpTotalSector[i]));
    PutSignature(ebrs[i]);
  }
  PutEntry(ebrs[0], 1, kTypeExtended, systemSlot, dataSlot);
  PutEntry(ebrs[1], 1, kTypeExtended, systemSlot + dataSlot, cacheSlot);
  return true;
}

uint32_t EntryFirstSector(const SectorBytes& record, int i) {
  return GetU32(record.data(), EntryOffset(i) + kEntryFirstSector);
}

uint32_t EntrySectorCount(const SectorBytes& record, int i) {
  return GetU32(record.data(), EntryOffset(i) + kEntrySectorCount);
}

uint8_t EntryType(const SectorBytes& record, int i) {
  return GetU8(record.data(), EntryOffset(i) + kEntryType);
}

}  // namespace tarnwick
