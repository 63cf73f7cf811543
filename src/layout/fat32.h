#pragma once
// The FAT32 formatter of the first partition: a geometry step before the card
// is opened, and a format step that writes through the sector writer.
#include <array>
#include <cstdint>

#include "common/sector.h"
#include "layout/mbr.h"

namespace tarnwick {

// The fixed boot-sector image (boot code included).
SectorBytes Fat32BootSectorTemplate();

struct Fat32Layout {
  SectorBytes m_tDBR = Fat32BootSectorTemplate();  // boot sector, from the fixed template
  uint32_t m_nDBRSector = 0;
  uint32_t m_nFirstFATSector = 0;
  uint32_t m_nSecondFATSector = 0;
  uint32_t m_nFirstDirSector = 0;
};

// Fills the per-card boot-sector fields and sector numbers from MBR entry 0.
bool PrepareFat32(Fat32Layout& fat, const SectorBytes& mbr);

// Writes boot sectors, FSInfo, both FATs and the root directory with the label.
// Returns false when any of its writes failed (it still carries out every step).
[[nodiscard]] bool FormatFat32(const Fat32Layout& fat, const std::array<char, 11>& volumeLabel,
                               ISectorWriter& writer);

}  // namespace tarnwick
