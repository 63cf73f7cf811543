#pragma once
// The partition plan: where each partition of a card of a given size lies.
// Computed exactly as the tool always has (32-bit rounding of the rooms, the
// FAT32 length in 64 bits); the burn's validation checks the results.
#include <array>
#include <cstdint>
#include <string>

namespace tarnwick {

inline constexpr uint32_t kEbrTrack = 63;

// Section "PARTITION_SECTORS" of the board configuration: the requested
// sizes in sectors and the FAT32 volume label (at most 11 characters).
struct PartitionConfig {
  uint32_t boot = 0;
  uint32_t recovery = 0;
  uint32_t system = 0;
  uint32_t data = 0;
  uint32_t cache = 0;
  std::string label;

  bool operator==(const PartitionConfig&) const = default;
};

struct PartitionPlan {
  uint64_t m_nCardSize = 0;                    // sectors
  std::array<uint64_t, 4> m_arrStartSector{};  // MBR entry order: FAT32, extended, Recovery, Boot
  std::array<uint64_t, 4> m_arrTotalSectors{};
  std::array<uint64_t, 3> m_arrEpTotalSector{};  // System, Data, Cache
  std::array<uint64_t, 3> m_arrSlotSize{};       // rounded rooms incl. the EBR track
  std::array<char, 11> m_szVolumeLabel{};        // space-padded, no terminator

  // The defaults set when the dialog is constructed (logs the three entry lines).
  void Initialise();
  // Fills the plan for m_nCardSize from the card's partition configuration.
  void ComputePartitionPlan(const PartitionConfig& config);
};

}  // namespace tarnwick
