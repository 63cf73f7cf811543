#pragma once
// The FAT32 formatter of the first partition: a geometry step before the card
// is opened, and a format step that writes through the sector writer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

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

// The zero bytes the format step writes from at most at once (the FATs are
// cleared in pieces of at most 32 MiB, the root directory's tail in one).
size_t Fat32ZeroBytes(const Fat32Layout& fat);

// Writes boot sectors, FSInfo, both FATs and the root directory with the label.
// Returns false when any of its writes failed (it still carries out every step).
// zeros, of at least Fat32ZeroBytes(fat) zero bytes, is what the FATs are
// cleared from: a caller that allocates it before the card is opened meets
// no lack of memory half-way through the card.
[[nodiscard]] bool FormatFat32(const Fat32Layout& fat, const std::array<char, 11>& volumeLabel,
                               ISectorWriter& writer, std::span<const uint8_t> zeros);
// The same with a zero buffer of its own.
[[nodiscard]] bool FormatFat32(const Fat32Layout& fat, const std::array<char, 11>& volumeLabel,
                               ISectorWriter& writer);

}  // namespace tarnwick
