// The format step: writes the boot sectors, FSInfo, both FATs and the root
// directory of the first partition through the sector writer.
#include <algorithm>
#include <vector>

#include "common/debug_log.h"
#include "common/le.h"
#include "layout/fat32.h"

namespace tarnwick {
namespace {

// Relative to the boot sector.
constexpr uint32_t kFsInfoOffset = 1;
constexpr uint32_t kBackupBootOffset = 6;
constexpr uint32_t kRootDirTailSectors = 8;

// The FATs are cleared from a zero buffer of at most 32 MiB, written as many
// times as needed, so that large partitions need no huge allocation.
constexpr uint32_t kMaxZeroSectors = 0x10000;

// Directory entry fields of the volume label.
constexpr size_t kDirName = 0;
constexpr size_t kDirAttributes = 11;
constexpr size_t kDirWriteTime = 22;
constexpr size_t kDirWriteDate = 24;
constexpr uint8_t kAttrVolumeLabel = 0x08;
// A fixed time stamp, 21 April 2011 11:18:02, on every card.
constexpr uint16_t kLabelTime = 0x5A41;
constexpr uint16_t kLabelDate = 0x3E95;

SectorBytes FsInfoSector() {
  SectorBytes s{};
  // Only the lead signature "RRaA" is set: the free counts stay unknown.
  PutU32(s.data(), 0, 0x41615252);
  return s;
}

SectorBytes FirstFatSector() {
  SectorBytes s{};
  PutU32(s.data(), 0, 0x0FFFFFF8);  // media 0xF8
  PutU32(s.data(), 4, 0x0FFFFFFF);
  PutU32(s.data(), 8, 0x0FFFFFFF);  // the root directory is cluster 2 alone
  return s;
}

SectorBytes RootDirSector(const std::array<char, 11>& volumeLabel) {
  SectorBytes s{};
  std::copy(volumeLabel.begin(), volumeLabel.end(), s.begin() + kDirName);
  PutU8(s.data(), kDirAttributes, kAttrVolumeLabel);
  PutU16(s.data(), kDirWriteTime, kLabelTime);
  PutU16(s.data(), kDirWriteDate, kLabelDate);
  return s;
}

uint32_t FatClearSectors(const Fat32Layout& fat) {
  return fat.m_nFirstDirSector - fat.m_nFirstFATSector;
}

// Writes count zero sectors from first in pieces of at most kMaxZeroSectors;
// stops at the first failed piece, as a single long write would.
bool WriteZeros(ISectorWriter& writer, SectorNo first, uint32_t count, const uint8_t* zeros) {
  do {
    const uint32_t piece = std::min(count, kMaxZeroSectors);
    if (!writer.WriteSectors(first, piece, zeros)) return false;
    first += piece;
    count -= piece;
  } while (count > 0);
  return true;
}

}  // namespace

size_t Fat32ZeroBytes(const Fat32Layout& fat) {
  const uint32_t sectors =
      std::max(std::min(FatClearSectors(fat), kMaxZeroSectors), kRootDirTailSectors);
  return size_t{sectors} * kSectorSize;
}

bool FormatFat32(const Fat32Layout& fat, const std::array<char, 11>& volumeLabel,
                 ISectorWriter& writer) {
  const std::vector<uint8_t> zeros(Fat32ZeroBytes(fat), 0);
  return FormatFat32(fat, volumeLabel, writer, zeros);
}

bool FormatFat32(const Fat32Layout& fat, const std::array<char, 11>& volumeLabel,
                 ISectorWriter& writer, std::span<const uint8_t> zeros) {
  if (zeros.size() < Fat32ZeroBytes(fat)) return false;
  const SectorNo s = fat.m_nDBRSector;
  const SectorBytes fsInfo = FsInfoSector();
  const SectorBytes zero{};
  // Every step is carried out even after a failure; the result says whether all succeeded.
  bool ok = true;

  DebugLog(1, "WrtieSector: DBR: [0x%x, 1]\n", s);
  ok &= writer.WriteSectors(s, 1, fat.m_tDBR.data());
  ok &= writer.WriteSectors(s + kFsInfoOffset, 1, fsInfo.data());
  ok &= writer.WriteSectors(s + kFsInfoOffset + 1, 1, zero.data());
  ok &= writer.WriteSectors(s + kBackupBootOffset, 1, fat.m_tDBR.data());
  ok &= writer.WriteSectors(s + kBackupBootOffset + kFsInfoOffset, 1, fsInfo.data());
  ok &= writer.WriteSectors(s + kBackupBootOffset + kFsInfoOffset + 1, 1, zero.data());

  const SectorBytes firstFat = FirstFatSector();
  const SectorBytes rootDir = RootDirSector(volumeLabel);

  // Both FATs but their first sectors, and the first root directory sector.
  const uint32_t fatLen = FatClearSectors(fat);
  DebugLog(1, "WrtieSector: nFatLen: 0x%x\n", fatLen);
  ok &= WriteZeros(writer, fat.m_nFirstFATSector + 1, fatLen, zeros.data());

  DebugLog(1, "WrtieSector: FirstFATSector: [0x%x, 1]\n", fat.m_nFirstFATSector);
  ok &= writer.WriteSectors(fat.m_nFirstFATSector, 1, firstFat.data());
  DebugLog(1, "WrtieSector: SecondFATSector: [0x%x, 1]\n", fat.m_nSecondFATSector);
  ok &= writer.WriteSectors(fat.m_nSecondFATSector, 1, firstFat.data());
  DebugLog(1, "WrtieSector: FirstDirSector: [0x%x, 1]\n", fat.m_nFirstDirSector);
  ok &= writer.WriteSectors(fat.m_nFirstDirSector, 1, rootDir.data());

  // The rest of cluster 2 and the first sector of cluster 3.
  ok &= writer.WriteSectors(fat.m_nFirstDirSector + 1, kRootDirTailSectors, zeros.data());
  return ok;
}

}  // namespace tarnwick
