#include "engine/card_discovery.h"

#include <algorithm>

#include "common/debug_log.h"
#include "common/sector.h"
#include "engine/burn_engine.h"

namespace tarnwick {

bool IsBurnableCard(const DiskGeometry& geometry) {
  return geometry.MediaType == kRemovableMedia && geometry.TracksPerCylinder != 0;
}

uint64_t CardSectors(const DiskGeometry& geometry) {
  // The first product is widened to 64 bits; a negative cylinder count wraps
  // to a size no plan fits, so the burn refuses that card.
  const uint64_t bytes = static_cast<uint64_t>(geometry.BytesPerSector) * geometry.SectorsPerTrack *
                         geometry.TracksPerCylinder * static_cast<uint64_t>(geometry.Cylinders);
  return bytes >> kSectorShift;
}

void CBurnEngine::DetectCards() {
  m_slotPaths = m_disks.Slots();
  if (m_slotPaths.size() > kMaxDiskSlots) m_slotPaths.resize(kMaxDiskSlots);
  const std::vector<std::string> leaveOut = std::move(m_leaveOut);
  m_leaveOut.clear();
  auto leftOut = [&](const std::string& path) {
    if (leaveOut.empty()) return false;
    const std::string instance = m_disks.DiskInstanceOf(path);
    if (instance.empty() || std::find(leaveOut.begin(), leaveOut.end(), instance) == leaveOut.end())
      return false;
    DebugLog(1, "DetectCards: %s is the board's own disk (%s), left out\n", path.c_str(),
             instance.c_str());
    return true;
  };
  for (int k = 0; k < static_cast<int>(kMaxDiskSlots); ++k) {
    CardSlot& slot = m_arrCards[k];
    slot.index = static_cast<uint8_t>(k);
    // A fresh record per probe: nothing of an earlier disk can leak into this one.
    DiskGeometry geometry;
    const bool accepted =
        static_cast<size_t>(k) < m_slotPaths.size() && !leftOut(m_slotPaths[k].path) &&
        m_sdReadWrite.GetDiskGeometry(m_slotPaths[k].path, geometry) && IsBurnableCard(geometry);
    slot.present = accepted ? 1 : 0;
    if (accepted) slot.size = CardSectors(geometry);
  }
}

}  // namespace tarnwick
