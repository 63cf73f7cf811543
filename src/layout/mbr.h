#pragma once
// The MBR of sector 0 and the three EBRs in front of the logical partitions.
#include <array>
#include <cstddef>
#include <cstdint>

#include "layout/partition_plan.h"

namespace tarnwick {

using SectorBytes = std::array<uint8_t, 512>;

inline constexpr size_t kPartitionEntryOffset = 446;
inline constexpr size_t kPartitionEntrySize = 16;

// The fixed MBR image: boot code, disk signature CA 96 CA 96, entry 0 template, 55 AA.
SectorBytes MbrTemplate();

// Sets the four entries of mbr from the plan (logs one line per entry).
bool BuildMBR(SectorBytes& mbr, const PartitionPlan& plan);

// Clears and fills the System, Data and Cache EBRs.
bool BuildEBRs(std::array<SectorBytes, 3>& ebrs, const PartitionPlan& plan);

// Field access of a partition entry i (0..3) of a record.
uint32_t EntryFirstSector(const SectorBytes& record, int i);
uint32_t EntrySectorCount(const SectorBytes& record, int i);
uint8_t EntryType(const SectorBytes& record, int i);

}  // namespace tarnwick
