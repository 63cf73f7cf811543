#pragma once
// An independent model of what a burn puts on a card, written from the card
// format rather than from the engine's code: the partition plan and the
// expected bytes of a whole small card image.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<uint8_t>;

// What the test configuration file holds.
struct BoardSetup {
  uint32_t boot = 12345, recovery = 2001, system = 4000, data = 2100, cache = 1000;
  std::string label = "DATA";
  uint32_t imageStoreNum = 2;
};

// The configuration file text for a setup (boot sections with a few set keys).
std::string ConfigText(const BoardSetup& setup);

struct Images {
  Bytes dfu, uboot, bootimg, bootres, bootrecover, system, data, cache;
};

struct Plan {
  uint64_t cardSectors = 0;  // whole cylinders of 255 x 63
  std::array<uint64_t, 4> start{}, total{};
  std::array<uint64_t, 3> slot{}, logical{};
  uint64_t X() const { return start[1]; }
  uint64_t R() const { return start[2]; }
  uint64_t P() const { return start[3]; }
};

Plan PlanFor(uint64_t cardBytes, const BoardSetup& setup);

// The card after a burn of a card image filled with pattern. The free boot
// code of the MBR (bytes 0-439) and of the FAT32 boot sectors (bytes 90-509)
// is taken from actual.
Bytes ExpectedCard(const Bytes& actual, uint8_t pattern, const BoardSetup& setup,
                   const Images& images);

// First sector where two cards differ, or -1.
int64_t FirstDifferentSector(const Bytes& a, const Bytes& b);

}  // namespace tarnwick::testing
