#include "engine/sd_read_write.h"

#include "common/debug_log.h"
#include "common/le.h"

namespace tarnwick {

namespace {

// Bytes written by one full chunk.
constexpr uint64_t kChunkBytes = static_cast<uint64_t>(kMaxChunkSectors) * kSectorSize;

// Fields of the first media entry's disk information in the media-types answer.
constexpr size_t kMediaTypesCountOffset = 4;
constexpr size_t kEntryCylinders = kMediaTypesFirstEntryOffset;
constexpr size_t kEntryMediaType = kMediaTypesFirstEntryOffset + 8;
constexpr size_t kEntryTracksPerCylinder = kMediaTypesFirstEntryOffset + 12;
constexpr size_t kEntrySectorsPerTrack = kMediaTypesFirstEntryOffset + 16;
constexpr size_t kEntryBytesPerSector = kMediaTypesFirstEntryOffset + 20;
static_assert(kEntryBytesPerSector + 4 == 32, "disk information spans bytes 8..31");
static_assert(kEntryBytesPerSector + 4 <= kMediaTypesAnswerSize);

}  // namespace

CSDReadWrite::CSDReadWrite(IDiskService& disks) : m_disks(disks) {}

// Closing is the caller's business; an instance that still holds a disk
// releases the descriptor through the writer's own destructor.
CSDReadWrite::~CSDReadWrite() = default;

bool CSDReadWrite::OpenDisk(const std::string& devicePath) {
  if (m_hDevice) m_hDevice->Close();
  m_hDevice.reset();
  SysResult<std::unique_ptr<IDiskWriter>> opened = m_disks.OpenForWrite(devicePath);
  m_openStatus = opened.Status();
  if (opened) m_hDevice = opened.Take();
  if (m_openStatus && !m_hDevice) {
    m_openStatus = {std::make_error_code(std::errc::io_error), devicePath + ": cannot be opened"};
  }
  return m_hDevice != nullptr;
}

bool CSDReadWrite::CloseDisk() {
  if (m_hDevice) {
    m_hDevice->Close();
    m_hDevice.reset();
  }
  return true;
}

bool CSDReadWrite::WriteSectorsAux(SectorNo first, uint32_t count, const uint8_t* buf) {
  if (!m_hDevice) {
    DebugLog(1, "WriteSectorsAux: Invalid Handle\n");
    return false;
  }
  const uint64_t position = SectorToByte(first);
  const auto lowAddr = static_cast<uint32_t>(position);
  const auto highAddr = static_cast<uint32_t>(first >> 23);
  const SysStatus status =
      m_hDevice->WriteAt(position, buf, static_cast<size_t>(count) * kSectorSize);
  if (status) return true;
  // The log shows the system's own code.
  const int err = status.Code().value();
  if (status.Code() == std::errc::invalid_argument || status.Code() == std::errc::value_too_large) {
    DebugLog(1, "WriteSectorsAux: SetFilePointer err = %d\n", err);
  } else {
    DebugLog(1,
             "WriteSectorsAux: WriteFile failed, err = %d, numSector = %d, lowaddr = 0x%x, "
             "highaddr = 0x%x\n",
             err, static_cast<int>(count), lowAddr, highAddr);
  }
  return false;
}

bool CSDReadWrite::WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) {
  while (count > kMaxChunkSectors) {
    if (!WriteSectorsAux(first, kMaxChunkSectors, buf)) return false;
    first += kMaxChunkSectors;
    buf += kChunkBytes;
    count -= kMaxChunkSectors;
  }
  return WriteSectorsAux(first, count, buf);
}

SysStatus CSDReadWrite::Flush() {
  if (!m_hDevice) return {std::make_error_code(std::errc::bad_file_descriptor), "no disk is open"};
  return m_hDevice->Flush();
}

SysStatus CSDReadWrite::ReadBack(SectorNo first, uint32_t count, uint8_t* buf) {
  if (!m_hDevice) return {std::make_error_code(std::errc::bad_file_descriptor), "no disk is open"};
  return m_hDevice->ReadBackAt(SectorToByte(first), buf, size_t{count} * kSectorSize);
}

SysStatus CSDReadWrite::CheckStillTarget() {
  if (!m_hDevice) return {std::make_error_code(std::errc::bad_file_descriptor), "no disk is open"};
  return m_hDevice->CheckStillTarget();
}

bool CSDReadWrite::GetDiskGeometry(const std::string& devicePath, DiskGeometry& geometry) {
  std::unique_ptr<IDiskQuery> query = m_disks.OpenForQuery(devicePath);
  if (!query) return false;
  if (query->GetDriveGeometry(geometry)) return true;

  uint8_t answer[kMediaTypesAnswerSize] = {};
  if (!query->GetMediaTypes(answer)) return false;
  // An answer without a media entry carries no disk information to copy.
  if (GetU32(answer, kMediaTypesCountOffset) == 0) return false;
  geometry.Cylinders = static_cast<int64_t>(GetU64(answer, kEntryCylinders));
  geometry.MediaType = GetU32(answer, kEntryMediaType);
  geometry.TracksPerCylinder = GetU32(answer, kEntryTracksPerCylinder);
  geometry.SectorsPerTrack = GetU32(answer, kEntrySectorsPerTrack);
  geometry.BytesPerSector = GetU32(answer, kEntryBytesPerSector);
  return true;
}

}  // namespace tarnwick
