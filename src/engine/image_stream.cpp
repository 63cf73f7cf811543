#include "engine/image_stream.h"

#include <algorithm>
#include <cstring>

#include "common/sector.h"
#include "engine/errors.h"
#include "platform/fs/large_buffer.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick {

CImageStream::CImageStream(ReadOnlyFile& pack, std::string packPath,
                           std::vector<StreamImage> images, StreamPool pool)
    : m_pack(pack), m_packPath(std::move(packPath)), m_images(std::move(images)), m_pool(pool) {
  m_slots.resize(std::max<size_t>(m_pool.buffers, 1));
  try {
    for (Slot& slot : m_slots)
      slot.data = static_cast<uint8_t*>(AllocateLargeBuffer(m_pool.bufferBytes));
  } catch (...) {
    for (Slot& slot : m_slots) FreeLargeBuffer(slot.data, m_pool.bufferBytes);
    throw;
  }
  m_reader = std::thread([this] { ReadAll(); });
}

CImageStream::~CImageStream() {
  Finish();
  for (Slot& slot : m_slots) FreeLargeBuffer(slot.data, m_pool.bufferBytes);
}

// Reads the piece into the slot's buffer: the image's bytes that fall in it,
// zeros after them.
bool CImageStream::Fill(Slot& slot, size_t image, uint64_t sector, uint32_t sectors) {
  const StreamImage& from = m_images[image];
  const uint64_t start = sector * kSectorSize;
  const size_t bytes = size_t{sectors} * kSectorSize;
  const size_t wanted =
      start < from.length ? static_cast<size_t>(std::min<uint64_t>(from.length - start, bytes)) : 0;
  size_t got = 0;
  std::string why;
  if (wanted != 0) {
    const SysResult<size_t> read = m_pack.ReadAt(from.offset + start, slot.data, wanted);
    if (!read) {
      why = read.Status().Text();
    } else if ((got = read.Value()) < wanted) {
      why = "the file ended early; it changed after it was checked";
    }
  }
  slot.piece = {image, sector, sectors, slot.data};
  if (!why.empty()) {
    slot.error = "Cannot read the pack file " + m_packPath + ": its " + from.name +
                 " image at offset " + std::to_string(from.offset + start + got) + ": " + why;
    return false;
  }
  std::memset(slot.data + got, 0, bytes - got);
  return true;
}

void CImageStream::ReadAll() {
  const auto bufferSectors = static_cast<uint32_t>(m_pool.bufferBytes / kSectorSize);
  for (size_t image = 0; image < m_images.size(); ++image) {
    const uint64_t sectors = m_images[image].sectors;
    for (uint64_t sector = 0; sector < sectors;) {
      const auto piece = static_cast<uint32_t>(std::min<uint64_t>(sectors - sector, bufferSectors));
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_filled - m_taken < m_slots.size(); });
        if (m_stop) return;
        slot = &m_slots[m_filled % m_slots.size()];
      }
      // The slot is the reader's alone until it is counted as filled.
      const bool read = Fill(*slot, image, sector, piece);
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_filled;
      }
      m_changed.notify_all();
      if (!read) return;
      sector += piece;
    }
  }
}

StreamPiece CImageStream::Next() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_filled > m_taken; });
  const Slot& slot = m_slots[m_taken % m_slots.size()];
  if (!slot.error.empty()) throw FileError(slot.error);
  return slot.piece;
}

void CImageStream::Finish() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_reader.joinable()) m_reader.join();
}

void CImageStream::Done() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_taken;
  }
  m_changed.notify_all();
}

}  // namespace tarnwick
