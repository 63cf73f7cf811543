#pragma once
// Geometry formed from a capacity for disks that report only their size
// (block devices on Linux, card image files): 255 heads, 63 sectors per track,
// 512 bytes per sector, and as many whole cylinders as fit.
#include <cstdint>

#include "platform/disk_service.h"

namespace tarnwick {

inline constexpr uint32_t kFormedHeads = 255;
inline constexpr uint32_t kFormedSectorsPerTrack = 63;
inline constexpr uint32_t kFormedBytesPerSector = 512;
inline constexpr uint64_t kFormedCylinderBytes =
    uint64_t{kFormedHeads} * kFormedSectorsPerTrack * kFormedBytesPerSector;

inline DiskGeometry GeometryFromCapacity(uint64_t bytes, bool removable) {
  DiskGeometry g;
  g.Cylinders = static_cast<int64_t>(bytes / kFormedCylinderBytes);
  g.MediaType = removable ? kRemovableMedia : kFixedMedia;
  g.TracksPerCylinder = kFormedHeads;
  g.SectorsPerTrack = kFormedSectorsPerTrack;
  g.BytesPerSector = kFormedBytesPerSector;
  return g;
}

// A geometry probe that answers with a geometry known beforehand: the
// geometry request always answers, so there are no media types to ask.
class FixedGeometryQuery : public IDiskQuery {
 public:
  explicit FixedGeometryQuery(const DiskGeometry& geometry) : m_geometry(geometry) {}
  bool GetDriveGeometry(DiskGeometry& geometry) override {
    geometry = m_geometry;
    return true;
  }
  bool GetMediaTypes(uint8_t (&)[kMediaTypesAnswerSize]) override { return false; }

 private:
  DiskGeometry m_geometry;
};

// The probe of a removable disk that is only a capacity (a card image, or a
// card read for comparison).
class CapacityQuery final : public FixedGeometryQuery {
 public:
  explicit CapacityQuery(uint64_t bytes) : FixedGeometryQuery(GeometryFromCapacity(bytes, true)) {}
};

}  // namespace tarnwick
