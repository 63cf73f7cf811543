#include "platform/sim/image_disk_service.h"

#include <algorithm>
#include <optional>

#include "platform/disk_geometry.h"
#include "platform/fs/file_access.h"
#include "platform/fs/image_file.h"

namespace tarnwick {

namespace {

// The simulated disks answer in portable conditions (std::errc).
SysStatus Failure(int err, std::string text) {
  return {std::error_code(err, std::generic_category()), std::move(text)};
}

class ImageWriter final : public IDiskWriter {
 public:
  ImageWriter(std::unique_ptr<ImageFile> file, uint64_t openedSize)
      : m_file(std::move(file)), m_openedSize(openedSize) {}

  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
    return m_file->WriteAt(byteOffset, data, len);
  }

  SysStatus CheckStillTarget() override {
    SysResult<ImageFile::State> state = m_file->CurrentState();
    if (!state) return state.Status();
    return CardImageStillWhole(m_openedSize, state.Value().size, state.Value().links);
  }
  SysStatus Flush() override { return m_file->Flush(); }
  // From the file: a card image has no device of its own to ask.
  SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
    return m_file->ReadBackAt(byteOffset, data, len);
  }
  void Close() override { m_file->Close(); }

 private:
  std::unique_ptr<ImageFile> m_file;
  uint64_t m_openedSize;
};

}  // namespace

ImageDiskService::ImageDiskService(std::vector<std::string> imagePaths)
    : m_images(std::move(imagePaths)) {
  if (m_images.size() > kMaxDiskSlots) m_images.resize(kMaxDiskSlots);
}

bool ImageDiskService::AddImage(const std::string& path) {
  if (m_images.size() >= kMaxDiskSlots) return false;
  m_images.push_back(path);
  return true;
}

bool ImageDiskService::IsSlot(const std::string& path) const {
  return std::find(m_images.begin(), m_images.end(), path) != m_images.end();
}

std::vector<DiskSlot> ImageDiskService::Slots() {
  std::vector<DiskSlot> slots;
  for (const std::string& image : m_images) slots.push_back({image});
  return slots;
}

std::unique_ptr<IDiskQuery> ImageDiskService::OpenForQuery(const std::string& path) {
  if (!IsSlot(path)) return nullptr;
  const SysResult<FileInfo> info = StatFile(path);
  if (!info || !info.Value().regular) return nullptr;
  return std::make_unique<CapacityQuery>(info.Value().size);
}

SysResult<std::unique_ptr<IDiskWriter>> ImageDiskService::OpenForWrite(const std::string& path) {
  const auto fail = [&](int err, const std::string& why) {
    return Failure(err, path + ": " + why);
  };
  if (!IsSlot(path)) return fail(EINVAL, "not a card image of the slot table");
  const SysResult<FileInfo> info = StatFile(path);
  if (!info) return SysStatus(info.Status().Code(), path + ": " + info.Status().Text());
  if (!info.Value().regular) return fail(EINVAL, "not a card image file");
  if (m_protectedPaths) {
    const std::optional<FileIdentity> mine = IdentityOf(path);
    for (const ProtectedPath& p : m_protectedPaths()) {
      if (mine && IdentityOf(p.path) == mine) {
        return fail(EPERM, "is the " + p.label + " " + p.path + "; it is never written");
      }
    }
  }
  auto file = std::make_unique<ImageFile>();
  if (const SysStatus opened = file->Open(path); !opened) {
    return SysStatus(opened.Code(), path + ": " + opened.Text());
  }
  SysResult<ImageFile::State> state = file->CurrentState();
  if (!state) return SysStatus(state.Status().Code(), path + ": " + state.Status().Text());
  const uint64_t openedSize = state.Value().size;
  return std::unique_ptr<IDiskWriter>(std::make_unique<ImageWriter>(std::move(file), openedSize));
}

SysStatus CreateCardImage(const std::string& path, uint64_t bytes) {
  const SysStatus created = CreateSparseFile(path, bytes);
  if (!created) return SysStatus(created.Code(), path + ": " + created.Text());
  return SysStatus::Ok();
}

}  // namespace tarnwick
