#pragma once
#include <cstddef>
#include <cstdint>

namespace tarnwick {

// Every count on the card is in 512-byte sectors, whatever the device reports.
inline constexpr uint32_t kSectorSize = 512;
inline constexpr unsigned kSectorShift = 9;

// Card positions are unsigned 32-bit absolute sector numbers (sector 0 holds the MBR).
using SectorNo = uint32_t;

// Byte position of a sector, computed in 64 bits.
constexpr uint64_t SectorToByte(uint64_t sector) {
  return sector << kSectorShift;
}

// n(len): sectors written for an image of len bytes; the image plus the zeros after it.
// A length that is a multiple of 512 gets one whole zero sector after it.
constexpr uint64_t ImageSectorCount(uint64_t len) {
  return len / kSectorSize + 1;
}

// Where the file-system formatter and the burn put sectors: the sector writer
// implements it; tests use in-memory fakes.
class ISectorWriter {
 public:
  virtual ~ISectorWriter() = default;
  // Writes count sectors from buf (count * 512 bytes) at the absolute sector first.
  [[nodiscard]] virtual bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) = 0;
};

}  // namespace tarnwick
