#pragma once
// The simulated disk service: its slots are card image files. An image counts
// as removable media whose geometry is formed from its size. Whenever it is in
// use, discovery sees these images only, never the host's disks.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/host.h"

namespace tarnwick {

class ImageDiskService final : public IDiskService {
 public:
  explicit ImageDiskService(std::vector<std::string> imagePaths = {});

  // Adds an image as the next slot (a card presented by a simulated board);
  // false when all 13 slots are taken.
  [[nodiscard]] bool AddImage(const std::string& path);

  // The files an image must never be (the pack, configuration and settings
  // files), asked for at each open for writing.
  void SetProtectedPaths(std::function<std::vector<ProtectedPath>()> paths) {
    m_protectedPaths = std::move(paths);
  }

  std::vector<DiskSlot> Slots() override;
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override;
  // Opens an existing image of the slot table for reading and writing; an
  // image that is one of the protected files (also under another name) is
  // refused.
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override;

 private:
  bool IsSlot(const std::string& path) const;

  std::vector<std::string> m_images;
  std::function<std::vector<ProtectedPath>()> m_protectedPaths;
};

}  // namespace tarnwick
