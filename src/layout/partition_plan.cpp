#include "layout/partition_plan.h"

#include <algorithm>

#include "common/debug_log.h"

namespace tarnwick {
namespace {

constexpr uint64_t kDefaultStart = 63;
constexpr uint64_t kDefaultTotal = 0x40000;

// Rounds up to a multiple of 8 in 32 bits, as the card format always has
// (a value within 7 of 2^32 wraps to 0).
constexpr uint32_t RoundUp8(uint32_t x) {
  return (x & 7u) ? (x & ~7u) + 8u : x;
}

static_assert(RoundUp8(0) == 0 && RoundUp8(1) == 8 && RoundUp8(8) == 8 && RoundUp8(9) == 16);
static_assert(RoundUp8(0xFFFFFFF9u) == 0);

// The FAT32 length left over by the other rooms: a remainder modulo 8 costs
// a further 8 sectors, and 126 sectors are always kept back.
constexpr uint64_t Fat32Length(uint64_t rest) {
  if (rest % 8 != 0) rest = (rest / 8 - 1) * 8;
  return rest - 126;
}

static_assert(Fat32Length(5'777'058) == 5'776'922);
static_assert(Fat32Length(5'778'240) == 5'778'114);

uint32_t Low32(uint64_t v) {
  return static_cast<uint32_t>(v);
}

}  // namespace

void PartitionPlan::Initialise() {
  m_nCardSize = 0;
  for (size_t i = 0; i < m_arrStartSector.size(); ++i) {
    m_arrStartSector[i] = kDefaultStart + i * kDefaultTotal;
    m_arrTotalSectors[i] = kDefaultTotal;
  }
  m_arrEpTotalSector.fill(0);
  m_arrSlotSize.fill(0);
  m_szVolumeLabel.fill(' ');
  for (int i = 1; i < 4; ++i) {
    DebugLog(1, "(start total)[%d]: [0x%x 0x%x]\n", i, Low32(m_arrStartSector[i]),
             Low32(m_arrTotalSectors[i]));
  }
}

void PartitionPlan::ComputePartitionPlan(const PartitionConfig& config) {
  const uint32_t boot = config.boot;
  const uint32_t recovery = config.recovery;
  const uint32_t system = config.system;
  const uint32_t data = config.data;
  const uint32_t cache = config.cache;
  const std::string& label = config.label;

  m_szVolumeLabel.fill(' ');
  std::copy_n(label.begin(), std::min(label.size(), m_szVolumeLabel.size()),
              m_szVolumeLabel.begin());

  const uint32_t slotSystem = RoundUp8(system);
  const uint32_t slotData = RoundUp8(data);
  const uint32_t slotCache = RoundUp8(cache);
  m_arrSlotSize = {slotSystem, slotData, slotCache};

  // The extended partition declares its three slots plus three EBR tracks.
  const uint32_t extended = slotSystem + slotData + slotCache + 3 * kEbrTrack;
  const uint32_t extendedRoom = RoundUp8(extended);
  const uint32_t recoveryRoom = RoundUp8(recovery);
  const uint32_t bootRoom = RoundUp8(boot);

  const uint64_t fat32 = Fat32Length(m_nCardSize - bootRoom - recoveryRoom - extendedRoom);

  m_arrStartSector[0] = kEbrTrack;
  m_arrTotalSectors[0] = fat32;
  m_arrStartSector[1] = fat32 + kEbrTrack;
  m_arrTotalSectors[1] = extended;
  m_arrStartSector[2] = m_arrStartSector[1] + extendedRoom + kEbrTrack;
  m_arrTotalSectors[2] = recovery;
  m_arrStartSector[3] = m_arrStartSector[2] + recoveryRoom;
  m_arrTotalSectors[3] = boot;

  for (size_t i = 0; i < m_arrEpTotalSector.size(); ++i) {
    m_arrEpTotalSector[i] = m_arrSlotSize[i] - kEbrTrack;
  }

  DebugLog(1, "m_arrStartSector: [0x%x 0x%x 0x%x 0x%x]\n", Low32(m_arrStartSector[0]),
           Low32(m_arrStartSector[1]), Low32(m_arrStartSector[2]), Low32(m_arrStartSector[3]));
  DebugLog(1, "m_arrTotalSectors: [0x%x 0x%x 0x%x 0x%x]\n", Low32(m_arrTotalSectors[0]),
           Low32(m_arrTotalSectors[1]), Low32(m_arrTotalSectors[2]), Low32(m_arrTotalSectors[3]));
  DebugLog(1, "m_arrEpTotalSector: [0x%x 0x%x 0x%x]\n", Low32(m_arrEpTotalSector[0]),
           Low32(m_arrEpTotalSector[1]), Low32(m_arrEpTotalSector[2]));
}

}  // namespace tarnwick
