#pragma once
// CSDReadWrite: raw, sector-addressed write access to one disk through the
// disk service. Writes go in chunks of at most 65,536 sectors (32 MiB).
#include <cstdint>
#include <memory>
#include <string>

#include "common/sector.h"
#include "platform/disk_service.h"

namespace tarnwick {

inline constexpr uint32_t kMaxChunkSectors = 0x10000;

class CSDReadWrite : public ISectorWriter {
 public:
  explicit CSDReadWrite(IDiskService& disks);
  ~CSDReadWrite() override;
  CSDReadWrite(const CSDReadWrite&) = delete;
  CSDReadWrite& operator=(const CSDReadWrite&) = delete;

  // True when the disk was opened; otherwise LastOpenError() says why.
  [[nodiscard]] bool OpenDisk(const std::string& devicePath);
  bool CloseDisk();
  [[nodiscard]] bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) override;
  [[nodiscard]] bool WriteSectorsAux(SectorNo first, uint32_t count, const uint8_t* buf);
  // Makes the open disk's writes durable; fails when no disk is open.
  SysStatus Flush();
  // Reads count sectors from first back from the device itself into buf
  // (page-aligned), for verification; fails when no disk is open.
  SysStatus ReadBack(SectorNo first, uint32_t count, uint8_t* buf);
  // Whether the writes still land on the card opened (a card image file
  // deleted or cut meanwhile: no); fails when no disk is open.
  SysStatus CheckStillTarget();
  // The geometry probe, with its own short-lived handle.
  [[nodiscard]] bool GetDiskGeometry(const std::string& devicePath, DiskGeometry& geometry);

  // Why the last OpenDisk failed, for the operator.
  const std::string& LastOpenError() const { return m_openStatus.Text(); }

 private:
  IDiskService& m_disks;
  std::unique_ptr<IDiskWriter> m_hDevice;  // null: no disk open
  SysStatus m_openStatus;
};

}  // namespace tarnwick
