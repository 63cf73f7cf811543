// The FAT32 boot sector: the fixed image and the geometry step that fills in
// the per-card fields and the sector numbers of the file-system structures.
#include <algorithm>
#include <string_view>

#include "common/le.h"
#include "layout/bootcode/bootcode.h"
#include "layout/card_layout.h"
#include "layout/fat32.h"

namespace tarnwick {
namespace {

// Boot sector fields (BIOS parameter block and FAT32 extension).
constexpr size_t kJump = 0;
constexpr size_t kOemName = 3;
constexpr size_t kBytesPerSector = 11;
constexpr size_t kSectorsPerCluster = 13;
constexpr size_t kReservedSectors = 14;
constexpr size_t kNumberOfFats = 16;
constexpr size_t kMediaDescriptor = 21;
constexpr size_t kSectorsPerTrack = 24;
constexpr size_t kNumberOfHeads = 26;
constexpr size_t kHiddenSectors = 28;
constexpr size_t kTotalSectors32 = 32;
constexpr size_t kSectorsPerFat32 = 36;
constexpr size_t kRootCluster = 44;
constexpr size_t kFsInfoSector = 48;
constexpr size_t kBackupBootSector = 50;
constexpr size_t kDriveNumber = 64;
constexpr size_t kExtendedBootSignature = 66;
constexpr size_t kVolumeSerial = 67;
constexpr size_t kVolumeLabel = 71;
constexpr size_t kFileSystemType = 82;
constexpr size_t kBootCode = 90;
constexpr size_t kSignature = 510;
static_assert(kVolumeLabel + 11 == kFileSystemType);
static_assert(kFileSystemType + 8 == kBootCode);
static_assert(kBootCode + sizeof(kFat32BootCode) == kSignature);
static_assert(kSignature + 2 == kSectorSize);

constexpr uint32_t kReservedSectorCount = 34;
constexpr uint32_t kClusterSectors = 8;

void PutText(SectorBytes& s, size_t off, std::string_view text) {
  std::copy(text.begin(), text.end(), s.begin() + off);
}

}  // namespace

SectorBytes Fat32BootSectorTemplate() {
  SectorBytes s{};
  constexpr std::array<uint8_t, 3> kJumpBytes = {0xEB, 0x58, 0x90};
  std::copy(kJumpBytes.begin(), kJumpBytes.end(), s.begin() + kJump);
  PutText(s, kOemName, "MSDOS5.0");
  PutU16(s.data(), kBytesPerSector, kSectorSize);
  PutU8(s.data(), kSectorsPerCluster, kClusterSectors);
  PutU16(s.data(), kReservedSectors, kReservedSectorCount);
  PutU8(s.data(), kNumberOfFats, 2);
  PutU8(s.data(), kMediaDescriptor, 0xF8);
  PutU16(s.data(), kSectorsPerTrack, 63);
  PutU16(s.data(), kNumberOfHeads, 255);
  PutU32(s.data(), kHiddenSectors, 63);
  PutU32(s.data(), kRootCluster, 2);
  PutU16(s.data(), kFsInfoSector, 1);
  PutU16(s.data(), kBackupBootSector, 6);
  PutU8(s.data(), kDriveNumber, 0x00);
  PutU8(s.data(), kExtendedBootSignature, 0x29);
  // The same serial number on every card.
  constexpr std::array<uint8_t, 4> kSerial = {0x14, 0x09, 0xB1, 0xF4};
  std::copy(kSerial.begin(), kSerial.end(), s.begin() + kVolumeSerial);
  // The operator's label goes only into the root directory.
  PutText(s, kVolumeLabel, "NO NAME    ");
  PutText(s, kFileSystemType, "FAT32   ");
  std::copy_n(kFat32BootCode, sizeof(kFat32BootCode), s.begin() + kBootCode);
  s[kSignature] = 0x55;
  s[kSignature + 1] = 0xAA;
  return s;
}

bool PrepareFat32(Fat32Layout& fat, const SectorBytes& mbr) {
  const uint32_t first = EntryFirstSector(mbr, 0);
  const uint32_t total = EntrySectorCount(mbr, 0);
  const auto fatSize = static_cast<uint32_t>(Fat32FatSectors(total));
  PutU32(fat.m_tDBR.data(), kTotalSectors32, total);
  PutU32(fat.m_tDBR.data(), kSectorsPerFat32, fatSize);
  fat.m_nDBRSector = first;
  fat.m_nFirstFATSector = first + kReservedSectorCount;
  fat.m_nSecondFATSector = fat.m_nFirstFATSector + fatSize;
  fat.m_nFirstDirSector = fat.m_nFirstFATSector + 2 * fatSize;
  return true;
}

}  // namespace tarnwick
