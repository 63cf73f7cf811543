#include "platform/win32/win32_disks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <set>

#include "common/debug_log.h"
#include "common/le.h"
#include "platform/fs/win32_text.h"
#include "platform/sim/image_disk_service.h"
#include "platform/win32/device_instance_win32.h"

namespace tarnwick {
namespace {

constexpr size_t kSector = 512;
constexpr size_t kGeometryBytes = 24;
// DISK_EXTENT records follow the count at offset 8, 24 bytes each.
constexpr size_t kExtentsHeaderBytes = 8;
constexpr size_t kExtentBytes = 24;
constexpr size_t kMaxExtents = 32;
// STORAGE_DEVICE_NUMBER: device type, device number, partition number.
constexpr size_t kDeviceNumberBytes = 12;

using Clock = std::chrono::steady_clock;

SysStatus Win32Failure(const std::string& what, uint32_t code) {
  return {std::error_code(static_cast<int>(code), std::system_category()),
          Win32ErrorText(what, code)};
}

SysStatus Refusal(std::errc condition, std::string text) {
  return {std::make_error_code(condition), std::move(text)};
}

DiskGeometry DecodeGeometry(const uint8_t* p) {
  DiskGeometry g;
  g.Cylinders = static_cast<int64_t>(GetU64(p, 0));
  g.MediaType = GetU32(p, 8);
  g.TracksPerCylinder = GetU32(p, 12);
  g.SectorsPerTrack = GetU32(p, 16);
  g.BytesPerSector = GetU32(p, 20);
  return g;
}

uint64_t GeometryBytes(const DiskGeometry& g) {
  return uint64_t{g.BytesPerSector} * g.SectorsPerTrack * g.TracksPerCylinder *
         static_cast<uint64_t>(g.Cylinders);
}

// Closes a handle when it goes out of scope.
class ScopedHandle {
 public:
  ScopedHandle(IWin32DiskCalls& sys, Win32Handle h) : m_sys(sys), m_h(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool Valid() const { return m_h != kInvalidWin32Handle && m_h != nullptr; }
  Win32Handle Get() const { return m_h; }
  Win32Handle Release() {
    Win32Handle h = m_h;
    m_h = kInvalidWin32Handle;
    return h;
  }
  void Reset() {
    if (Valid()) m_sys.Close(m_h);
    m_h = kInvalidWin32Handle;
  }

 private:
  IWin32DiskCalls& m_sys;
  Win32Handle m_h;
};

// A volume name without its final backslash opens the volume itself rather
// than its root folder.
std::string VolumeDevice(const std::string& volume) {
  if (!volume.empty() && volume.back() == '\\') return volume.substr(0, volume.size() - 1);
  return volume;
}

// The disk numbers a volume lies on; empty when it cannot be told.
std::vector<uint32_t> VolumeDisks(IWin32DiskCalls& sys, const std::string& volume) {
  ScopedHandle h(sys, sys.Open(VolumeDevice(volume), 0, win32c::kShareRead | win32c::kShareWrite));
  if (!h.Valid()) return {};
  uint8_t answer[kExtentsHeaderBytes + kMaxExtents * kExtentBytes] = {};
  uint32_t returned = 0;
  if (!sys.Ioctl(h.Get(), win32c::kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, answer,
                 sizeof answer, returned)) {
    return {};
  }
  const uint32_t count = std::min<uint32_t>(GetU32(answer, 0), kMaxExtents);
  std::vector<uint32_t> disks;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = kExtentsHeaderBytes + i * kExtentBytes;
    if (at + kExtentBytes > returned) break;
    disks.push_back(GetU32(answer, at));
  }
  return disks;
}

struct DeviceNumber {
  uint32_t type = 0;
  uint32_t number = 0;
  bool operator==(const DeviceNumber&) const = default;
};

// The device type and number of a disk, or of a disk interface, on a handle
// opened without access rights; nothing when it cannot be told.
std::optional<DeviceNumber> DeviceNumberOf(IWin32DiskCalls& sys, const std::string& path) {
  ScopedHandle h(sys, sys.Open(path, 0, win32c::kShareRead | win32c::kShareWrite));
  if (!h.Valid()) return std::nullopt;
  uint8_t answer[kDeviceNumberBytes] = {};
  uint32_t returned = 0;
  if (!sys.Ioctl(h.Get(), win32c::kIoctlStorageGetDeviceNumber, nullptr, 0, answer, sizeof answer,
                 returned) ||
      returned < 8) {
    return std::nullopt;
  }
  return DeviceNumber{GetU32(answer, 0), GetU32(answer, 4)};
}

// The probe of one physical disk, on a handle opened for reading only.
class Win32DiskQuery final : public IDiskQuery {
 public:
  Win32DiskQuery(IWin32DiskCalls& sys, Win32Handle h, bool forceRemovable)
      : m_sys(sys), m_h(h), m_bForceRemovable(forceRemovable) {}
  ~Win32DiskQuery() override { m_sys.Close(m_h); }

  bool GetDriveGeometry(DiskGeometry& geometry) override {
    uint8_t answer[kGeometryBytes] = {};
    uint32_t returned = 0;
    if (!m_sys.Ioctl(m_h, win32c::kIoctlDiskGetDriveGeometry, nullptr, 0, answer, sizeof answer,
                     returned) ||
        returned < kGeometryBytes) {
      return false;
    }
    geometry = DecodeGeometry(answer);
    if (m_bForceRemovable) geometry.MediaType = kRemovableMedia;
    return true;
  }

  bool GetMediaTypes(uint8_t (&answer)[kMediaTypesAnswerSize]) override {
    uint32_t returned = 0;
    if (!m_sys.Ioctl(m_h, win32c::kIoctlStorageGetMediaTypesEx, nullptr, 0, answer,
                     kMediaTypesAnswerSize, returned)) {
      return false;
    }
    // An answer without a media entry carries no geometry at all.
    if (GetU32(answer, 4) == 0 || returned < kMediaTypesFirstEntryOffset + kGeometryBytes) {
      return false;
    }
    if (m_bForceRemovable) PutU32(answer, kMediaTypesFirstEntryOffset + 8, kRemovableMedia);
    return true;
  }

 private:
  IWin32DiskCalls& m_sys;
  Win32Handle m_h;
  bool m_bForceRemovable;
};

// The geometry of a disk as discovery reads it; false when the probe fails.
bool ProbeGeometry(IWin32DiskCalls& sys, const std::string& path, DiskGeometry& g,
                   uint32_t& openError) {
  Win32Handle h = sys.Open(path, win32c::kGenericRead, win32c::kShareRead | win32c::kShareWrite);
  if (h == kInvalidWin32Handle) {
    openError = sys.LastError();
    return false;
  }
  openError = 0;
  Win32DiskQuery query(sys, h, false);
  if (query.GetDriveGeometry(g)) return true;
  uint8_t answer[kMediaTypesAnswerSize] = {};
  if (!query.GetMediaTypes(answer)) return false;
  g = DecodeGeometry(answer + kMediaTypesFirstEntryOffset);
  return true;
}

// Aligned storage for WriteFile and ReadFile on a raw disk. Unbuffered
// transfers need memory aligned to the physical sector, up to 4096 bytes.
constexpr size_t kBufferAlign = 4096;
struct AlignedFree {
  void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{kBufferAlign}); }
};
using AlignedBuffer = std::unique_ptr<uint8_t[], AlignedFree>;
AlignedBuffer MakeAligned(size_t bytes) {
  return AlignedBuffer(
      static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t{kBufferAlign})));
}

class Win32DiskWriter final : public IDiskWriter {
 public:
  Win32DiskWriter(IWin32DiskCalls& sys, std::string path, Win32Handle disk,
                  std::vector<Win32Handle> volumes)
      : m_sys(sys), m_path(std::move(path)), m_disk(disk), m_volumes(std::move(volumes)) {}
  ~Win32DiskWriter() override { Close(); }

  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
    if (m_disk == kInvalidWin32Handle) {
      return Win32Failure("WriteFile " + m_path, win32c::kErrorInvalidParameter);
    }
    // A raw disk takes whole sectors at sector positions only.
    if (byteOffset % kSector != 0 || len % kSector != 0) {
      return Refusal(std::errc::invalid_argument,
                     m_path + ": write not aligned to 512-byte sectors");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const bool aligned = reinterpret_cast<uintptr_t>(bytes) % kBufferAlign == 0;
    size_t done = 0;
    do {
      const uint32_t chunk =
          static_cast<uint32_t>(std::min<size_t>(len - done, kWin32MaxWriteBytes));
      const uint64_t at = byteOffset + done;
      if (!m_sys.Seek(m_disk, static_cast<uint32_t>(at), static_cast<int32_t>(at >> 32))) {
        return Win32Failure("SetFilePointer " + m_path, m_sys.LastError());
      }
      const uint8_t* source = bytes + done;
      if (!aligned && chunk != 0) {
        if (!m_bounce || m_bounceBytes < chunk) {
          m_bounce = MakeAligned(chunk);
          m_bounceBytes = chunk;
        }
        std::memcpy(m_bounce.get(), source, chunk);
        source = m_bounce.get();
      }
      uint32_t written = 0;
      if (!m_sys.Write(m_disk, source, chunk, written)) {
        return Win32Failure("WriteFile " + m_path, m_sys.LastError());
      }
      // Less than asked for is the end of the medium: the card is not written.
      if (written != chunk) {
        return {
            std::error_code(static_cast<int>(win32c::kErrorHandleDiskFull), std::system_category()),
            m_path + ": short write, " + std::to_string(written) + " of " + std::to_string(chunk) +
                " bytes at byte " + std::to_string(at)};
      }
      done += chunk;
    } while (done < len);
    return SysStatus::Ok();
  }

  SysStatus Flush() override {
    if (m_disk == kInvalidWin32Handle) {
      return Win32Failure("FlushFileBuffers " + m_path, win32c::kErrorInvalidParameter);
    }
    if (!m_sys.Flush(m_disk)) return Win32Failure("FlushFileBuffers " + m_path, m_sys.LastError());
    return SysStatus::Ok();
  }

  // Through a second handle of the disk that bypasses the system's cache
  // (FILE_FLAG_NO_BUFFERING), opened at the first read back: the bytes come
  // from the card. Whole sectors into memory aligned for it.
  SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
    if (m_disk == kInvalidWin32Handle) {
      return Win32Failure("ReadFile " + m_path, win32c::kErrorInvalidParameter);
    }
    if (byteOffset % kSector != 0 || len % kSector != 0) {
      return Refusal(std::errc::invalid_argument,
                     m_path + ": read back not aligned to 512-byte sectors");
    }
    if (m_reader == kInvalidWin32Handle) {
      m_reader =
          m_sys.OpenWithFlags(m_path, win32c::kGenericRead,
                              win32c::kShareRead | win32c::kShareWrite, win32c::kFlagNoBuffering);
      if (m_reader == kInvalidWin32Handle) {
        return Win32Failure(m_path + ": cannot be opened for reading back", m_sys.LastError());
      }
    }
    auto* out = static_cast<uint8_t*>(data);
    const bool aligned = reinterpret_cast<uintptr_t>(out) % kBufferAlign == 0;
    size_t done = 0;
    while (done < len) {
      const auto chunk = static_cast<uint32_t>(std::min<size_t>(len - done, kWin32MaxWriteBytes));
      const uint64_t at = byteOffset + done;
      if (!m_sys.Seek(m_reader, static_cast<uint32_t>(at), static_cast<int32_t>(at >> 32))) {
        return Win32Failure("SetFilePointer " + m_path, m_sys.LastError());
      }
      uint8_t* target = out + done;
      if (!aligned) {
        if (!m_bounce || m_bounceBytes < chunk) {
          m_bounce = MakeAligned(chunk);
          m_bounceBytes = chunk;
        }
        target = m_bounce.get();
      }
      uint32_t got = 0;
      if (!m_sys.Read(m_reader, target, chunk, got)) {
        return Win32Failure("ReadFile " + m_path, m_sys.LastError());
      }
      if (got != chunk) {
        return {std::error_code(static_cast<int>(win32c::kErrorHandleEof), std::system_category()),
                m_path + ": short read back, " + std::to_string(got) + " of " +
                    std::to_string(chunk) + " bytes at byte " + std::to_string(at)};
      }
      if (!aligned) std::memcpy(out + done, target, chunk);
      done += chunk;
    }
    return SysStatus::Ok();
  }

  void Close() override {
    if (m_disk == kInvalidWin32Handle) return;
    if (m_reader != kInvalidWin32Handle) m_sys.Close(m_reader);
    m_reader = kInvalidWin32Handle;
    m_sys.Close(m_disk);
    m_disk = kInvalidWin32Handle;
    // Windows reads the new partition table while the volumes are still
    // locked, then mounts what it finds once their handles are gone.
    ScopedHandle h(
        m_sys, m_sys.Open(m_path, win32c::kGenericRead, win32c::kShareRead | win32c::kShareWrite));
    uint32_t returned = 0;
    if (!h.Valid()) {
      DebugLog(1, "CloseDisk: update of the disk properties refused, err = %u\n",
               static_cast<unsigned>(m_sys.LastError()));
    } else if (!m_sys.Ioctl(h.Get(), win32c::kIoctlDiskUpdateProperties, nullptr, 0, nullptr, 0,
                            returned)) {
      DebugLog(1, "CloseDisk: update of the disk properties refused, err = %u\n",
               static_cast<unsigned>(m_sys.LastError()));
    }
    h.Reset();
    for (Win32Handle v : m_volumes) m_sys.Close(v);
    m_volumes.clear();
  }

 private:
  IWin32DiskCalls& m_sys;
  std::string m_path;
  Win32Handle m_disk;
  std::vector<Win32Handle> m_volumes;
  Win32Handle m_reader = kInvalidWin32Handle;  // the unbuffered handle of ReadBackAt
  AlignedBuffer m_bounce;
  size_t m_bounceBytes = 0;
};

// Retries an operation while another program holds what it needs, for at
// most kWin32BusyBound, logging the wait once and its outcome once.
class BusyWait {
 public:
  BusyWait(IClock& clock, std::string path)
      : m_clock(clock), m_path(std::move(path)), m_start(clock.Now()) {}

  // After a refusal: true when it is worth another try (having slept).
  bool Again() {
    const auto waited = m_clock.Now() - m_start;
    if (waited >= kWin32BusyBound) {
      if (m_bWaiting) {
        DebugLog(1, "OpenDisk: %s given up after %.1f s, still busy\n", m_path.c_str(), Seconds());
      }
      return false;
    }
    if (!m_bWaiting) {
      DebugLog(1, "OpenDisk: %s busy, waiting\n", m_path.c_str());
      m_bWaiting = true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(kWin32BusyBound - waited);
    m_clock.SleepFor(std::min(m_delay, left));
    m_delay = std::min(m_delay * 2, std::chrono::milliseconds(1000));
    return true;
  }
  // After a success.
  void Obtained() {
    if (m_bWaiting) {
      DebugLog(1, "OpenDisk: %s obtained after %.1f s\n", m_path.c_str(), Seconds());
      m_bWaiting = false;
    }
  }

 private:
  double Seconds() { return std::chrono::duration<double>(m_clock.Now() - m_start).count(); }

  IClock& m_clock;
  std::string m_path;
  Clock::time_point m_start;
  std::chrono::milliseconds m_delay{100};
  bool m_bWaiting = false;
};

bool IsBusyError(uint32_t code) {
  return code == win32c::kErrorAccessDenied || code == win32c::kErrorSharingViolation ||
         code == win32c::kErrorLockViolation;
}

std::string DriveNames(IWin32DiskCalls& sys, const std::string& volume) {
  std::string names;
  for (const std::string& m : sys.MountPoints(volume)) names += (names.empty() ? "" : ", ") + m;
  return names.empty() ? volume : names;
}

// Opens a physical disk for writing: every volume on it locked and
// dismounted, then the disk itself opened with no other writer allowed.
SysResult<std::unique_ptr<IDiskWriter>> OpenDiskForWrite(IWin32DiskCalls& sys, IClock& clock,
                                                         const std::string& path, uint32_t number) {
  BusyWait wait(clock, path);
  std::vector<Win32Handle> held;
  auto release = [&] {
    for (Win32Handle v : held) sys.Close(v);
    held.clear();
  };
  for (const std::string& volume : sys.Volumes()) {
    const std::vector<uint32_t> disks = VolumeDisks(sys, volume);
    if (std::find(disks.begin(), disks.end(), number) == disks.end()) continue;
    ScopedHandle v(sys, sys.Open(VolumeDevice(volume), win32c::kGenericRead | win32c::kGenericWrite,
                                 win32c::kShareRead | win32c::kShareWrite));
    if (!v.Valid()) {
      const uint32_t err = sys.LastError();
      release();
      return Win32Failure(path + ": volume " + DriveNames(sys, volume) + " cannot be opened", err);
    }
    uint32_t returned = 0;
    while (!sys.Ioctl(v.Get(), win32c::kFsctlLockVolume, nullptr, 0, nullptr, 0, returned)) {
      const uint32_t err = sys.LastError();
      if (IsBusyError(err) && wait.Again()) continue;
      release();
      return Win32Failure(
          path + ": volume " + DriveNames(sys, volume) + " is in use and cannot be locked", err);
    }
    if (!sys.Ioctl(v.Get(), win32c::kFsctlDismountVolume, nullptr, 0, nullptr, 0, returned)) {
      const uint32_t err = sys.LastError();
      release();
      return Win32Failure(path + ": volume " + DriveNames(sys, volume) + " cannot be dismounted",
                          err);
    }
    held.push_back(v.Release());
  }
  for (;;) {
    // Unbuffered and written through: each write goes to the card, not to
    // the system's cache, and is there when WriteFile returns.
    Win32Handle disk =
        sys.OpenWithFlags(path, win32c::kGenericRead | win32c::kGenericWrite, win32c::kShareRead,
                          win32c::kFlagNoBuffering | win32c::kFlagWriteThrough);
    if (disk != kInvalidWin32Handle) {
      wait.Obtained();
      return std::unique_ptr<IDiskWriter>(
          std::make_unique<Win32DiskWriter>(sys, path, disk, std::move(held)));
    }
    const uint32_t err = sys.LastError();
    if (err == win32c::kErrorSharingViolation && wait.Again()) continue;
    release();
    return Win32Failure(path, err);
  }
}

// Why a physical disk is refused as a named target; empty when accepted.
std::string TargetRefusal(IWin32DiskCalls& sys, const std::string& path, uint32_t number,
                          bool allowFixed, const std::map<uint32_t, std::string>& systemDisks) {
  if (auto it = systemDisks.find(number); it != systemDisks.end()) {
    return path + " is refused: " + it->second;
  }
  DiskGeometry g;
  uint32_t openError = 0;
  if (!ProbeGeometry(sys, path, g, openError)) {
    if (openError != 0) return Win32ErrorText(path, openError);
    return path + " is refused: no card in the reader";
  }
  if (g.TracksPerCylinder == 0 || GeometryBytes(g) == 0) {
    return path + " is refused: no card in the reader";
  }
  if (g.MediaType != kRemovableMedia && !allowFixed) {
    return path + " is refused: fixed disk, not removable media (--allow-fixed burns it)";
  }
  return {};
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(
      std::filesystem::path(std::u8string(path.begin(), path.end())), ec);
}

class Win32DiskService final : public IDiskService {
 public:
  Win32DiskService(const Win32DiskOptions& options, IWin32DiskCalls& sys, IClock& clock)
      : m_options(options), m_sys(sys), m_clock(clock) {
    if (m_options.targets.size() > kMaxDiskSlots) m_options.targets.resize(kMaxDiskSlots);
    std::vector<std::string> images;
    for (const std::string& t : m_options.targets) {
      if (!IsWin32DiskPath(t)) images.push_back(t);
    }
    m_images = std::make_unique<ImageDiskService>(images);
  }

  std::vector<DiskSlot> Slots() override {
    // The system disks are asked for afresh at every run.
    m_systemDisks = Win32SystemDisks(m_sys, m_options.protectedPaths);
    std::vector<DiskSlot> slots;
    if (!m_options.targets.empty()) {
      for (const std::string& t : m_options.targets) slots.push_back({t});
    } else {
      for (uint32_t n = 1; n <= kWin32DiskSlots; ++n) slots.push_back({Win32DiskPath(n)});
    }
    return slots;
  }

  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    uint32_t number = 0;
    if (!Win32DiskNumber(path, number)) {
      return m_options.targets.empty() ? nullptr : m_images->OpenForQuery(path);
    }
    if (!Known(path)) return nullptr;
    if (m_systemDisks.count(number) != 0) return nullptr;
    bool forceRemovable = false;
    if (!m_options.targets.empty()) {
      if (!TargetRefusal(m_sys, path, number, m_options.allowFixed, m_systemDisks).empty()) {
        return nullptr;
      }
      // Naming a fixed disk with --allow-fixed is the operator's decision to burn it.
      forceRemovable = m_options.allowFixed;
    }
    Win32Handle h =
        m_sys.Open(path, win32c::kGenericRead, win32c::kShareRead | win32c::kShareWrite);
    if (h == kInvalidWin32Handle) return nullptr;
    return std::make_unique<Win32DiskQuery>(m_sys, h, forceRemovable);
  }

  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    uint32_t number = 0;
    if (!Win32DiskNumber(path, number)) {
      if (m_options.targets.empty()) {
        return Refusal(std::errc::invalid_argument, path + " is not a physical disk");
      }
      return m_images->OpenForWrite(path);
    }
    if (!Known(path)) {
      return Refusal(std::errc::invalid_argument, path + " is not one of the disks to burn");
    }
    // Asked again: a protected file may have moved since discovery.
    const auto systemDisks = Win32SystemDisks(m_sys, m_options.protectedPaths);
    if (auto it = systemDisks.find(number); it != systemDisks.end()) {
      return Refusal(std::errc::operation_not_permitted, path + " is refused: " + it->second);
    }
    if (!m_options.targets.empty()) {
      if (std::string r = TargetRefusal(m_sys, path, number, m_options.allowFixed, systemDisks);
          !r.empty()) {
        return Refusal(std::errc::operation_not_permitted, std::move(r));
      }
    }
    return OpenDiskForWrite(m_sys, m_clock, path, number);
  }

  std::string DiskInstanceOf(const std::string& path) override {
    if (!IsWin32DiskPath(path)) return {};  // a card image file
    return Win32DiskInstance(m_sys, path);
  }

 private:
  bool Known(const std::string& path) const {
    uint32_t number = 0;
    Win32DiskNumber(path, number);
    if (m_options.targets.empty()) return number >= 1 && number <= kWin32DiskSlots;
    return std::find(m_options.targets.begin(), m_options.targets.end(), path) !=
           m_options.targets.end();
  }

  Win32DiskOptions m_options;
  IWin32DiskCalls& m_sys;
  IClock& m_clock;
  std::unique_ptr<ImageDiskService> m_images;
  std::map<uint32_t, std::string> m_systemDisks;
};

class Win32DiskReader final : public ICardReader {
 public:
  Win32DiskReader(IWin32DiskCalls& sys, std::string path, Win32Handle h, uint64_t size)
      : m_sys(sys), m_path(std::move(path)), m_h(h), m_size(size) {}
  ~Win32DiskReader() override { m_sys.Close(m_h); }
  uint64_t SizeBytes() const override { return m_size; }

  SysStatus ReadAt(uint64_t byteOffset, void* buffer, size_t len) override {
    if (byteOffset > m_size || len > m_size - byteOffset) {
      return Refusal(std::errc::invalid_argument, "read past the end of the card");
    }
    // The disk is read in whole sectors into aligned storage.
    auto* out = static_cast<uint8_t*>(buffer);
    while (len > 0) {
      const uint64_t first = byteOffset / kSector * kSector;
      const size_t skip = static_cast<size_t>(byteOffset - first);
      const size_t span =
          std::min<size_t>((skip + len + kSector - 1) / kSector * kSector, kWin32MaxWriteBytes);
      if (m_bufferBytes < span) {
        m_buffer = MakeAligned(span);
        m_bufferBytes = span;
      }
      if (!m_sys.Seek(m_h, static_cast<uint32_t>(first), static_cast<int32_t>(first >> 32))) {
        return Win32Failure("SetFilePointer " + m_path, m_sys.LastError());
      }
      uint32_t got = 0;
      if (!m_sys.Read(m_h, m_buffer.get(), static_cast<uint32_t>(span), got)) {
        return Win32Failure("ReadFile " + m_path, m_sys.LastError());
      }
      if (got <= skip) {
        return Refusal(std::errc::io_error, m_path + ": short read from the card");
      }
      const size_t take = std::min(len, static_cast<size_t>(got) - skip);
      std::memcpy(out, m_buffer.get() + skip, take);
      out += take;
      len -= take;
      byteOffset += take;
    }
    return SysStatus::Ok();
  }

 private:
  IWin32DiskCalls& m_sys;
  std::string m_path;
  Win32Handle m_h;
  uint64_t m_size;
  AlignedBuffer m_buffer;
  size_t m_bufferBytes = 0;
};

}  // namespace

std::string Win32DiskPath(uint32_t number) {
  return "\\\\.\\PhysicalDrive" + std::to_string(number);
}

bool IsWin32DiskPath(const std::string& path) {
  uint32_t number = 0;
  return Win32DiskNumber(path, number);
}

bool Win32DiskNumber(const std::string& path, uint32_t& number) {
  static const std::string kPrefix = "\\\\.\\physicaldrive";
  if (path.size() <= kPrefix.size() || path.size() > kPrefix.size() + 9) return false;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) return false;
  }
  uint64_t n = 0;
  for (size_t i = kPrefix.size(); i < path.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return false;
    n = n * 10 + static_cast<uint64_t>(path[i] - '0');
  }
  if (n > 0xFFFFFFFFu) return false;
  number = static_cast<uint32_t>(n);
  return true;
}

std::string Win32DiskInstance(IWin32DiskCalls& sys, const std::string& path) {
  const std::optional<DeviceNumber> disk = DeviceNumberOf(sys, path);
  if (!disk) return {};
  for (const std::string& iface : sys.DiskInterfaces()) {
    if (DeviceNumberOf(sys, iface) == disk) {
      return win32::NormalDeviceInstance(sys.InterfaceInstance(iface));
    }
  }
  return {};
}

std::string Win32ErrorText(const std::string& what, uint32_t code) {
  return what + ": " + win32::ErrorStatus(code).Text() + " (error " + std::to_string(code) + ")";
}

std::map<uint32_t, std::string> Win32SystemDisks(
    IWin32DiskCalls& sys, const std::function<std::vector<ProtectedPath>()>& protectedPaths) {
  std::vector<ProtectedPath> uses;
  if (std::string w = sys.WindowsFolder(); !w.empty()) uses.push_back({"the Windows folder", w});
  for (const std::string& p : sys.PageFiles()) uses.push_back({"the page file", p});
  if (std::string cwd = sys.CurrentDirectory(); !cwd.empty()) {
    uses.push_back({"the working directory", cwd});
  }
  if (protectedPaths) {
    for (ProtectedPath& p : protectedPaths()) {
      if (!p.path.empty()) uses.push_back({"the " + p.label, p.path});
    }
  }
  std::map<uint32_t, std::string> disks;
  for (const ProtectedPath& use : uses) {
    const std::string volume = sys.VolumeOfPath(use.path);
    if (volume.empty()) continue;
    for (uint32_t n : VolumeDisks(sys, volume)) {
      std::string& reason = disks[n];
      const std::string what = use.label + " (" + use.path + ")";
      if (reason.empty()) {
        reason = "system disk: holds " + what;
      } else if (reason.find(what) == std::string::npos) {
        reason += ", " + what;
      }
    }
  }
  return disks;
}

std::unique_ptr<IDiskService> MakeWin32DiskService(const Win32DiskOptions& options,
                                                   IWin32DiskCalls& sys, IClock& clock) {
  return std::make_unique<Win32DiskService>(options, sys, clock);
}

SysStatus CheckWin32Target(IWin32DiskCalls& sys, const std::string& path, bool allowFixed,
                           const std::function<std::vector<ProtectedPath>()>& protectedPaths) {
  uint32_t number = 0;
  if (!Win32DiskNumber(path, number)) {
    if (IsRegularFile(path)) return SysStatus::Ok();
    return Refusal(
        std::errc::invalid_argument,
        path + " is neither a physical disk (\\\\.\\PhysicalDriveN) nor a card image file");
  }
  const auto systemDisks = Win32SystemDisks(sys, protectedPaths);
  if (std::string r = TargetRefusal(sys, path, number, allowFixed, systemDisks); !r.empty()) {
    return Refusal(std::errc::operation_not_permitted, std::move(r));
  }
  return SysStatus::Ok();
}

std::vector<HostDisk> ListWin32Disks(
    IWin32DiskCalls& sys, const std::function<std::vector<ProtectedPath>()>& protectedPaths) {
  const auto systemDisks = Win32SystemDisks(sys, protectedPaths);
  // Disk 0 and numbers past the table are listed too, to say why they are
  // left out; numbers that do not exist are skipped.
  constexpr uint32_t kLastNumber = 63;
  std::vector<HostDisk> out;
  for (uint32_t n = 0; n <= kLastNumber; ++n) {
    HostDisk d;
    d.devicePath = Win32DiskPath(n);
    DiskGeometry g;
    uint32_t openError = 0;
    const bool probed = ProbeGeometry(sys, d.devicePath, g, openError);
    if (!probed &&
        (openError == win32c::kErrorFileNotFound || openError == win32c::kErrorPathNotFound)) {
      continue;
    }
    if (probed) d.bytes = GeometryBytes(g);
    if (auto it = systemDisks.find(n); it != systemDisks.end()) {
      d.reason = it->second;
    } else if (n == 0) {
      d.reason = "disk 0 is never burned";
    } else if (!probed && openError != 0) {
      d.reason = "cannot be opened: " + win32::ErrorStatus(openError).Text() + " (error " +
                 std::to_string(openError) + ")";
    } else if (!probed || g.TracksPerCylinder == 0 || d.bytes == 0) {
      d.reason = "no card in the reader";
    } else if (g.MediaType != kRemovableMedia) {
      d.reason = "fixed disk, not removable media";
    } else if (n > kWin32DiskSlots) {
      d.reason =
          "removable card beyond the " + std::to_string(kWin32DiskSlots) + " slots of a burn";
    } else {
      d.accepted = true;
      d.reason = "removable card";
    }
    out.push_back(std::move(d));
  }
  return out;
}

SysResult<std::unique_ptr<ICardReader>> OpenWin32DiskReader(IWin32DiskCalls& sys,
                                                            const std::string& path) {
  Win32Handle h = sys.Open(path, win32c::kGenericRead, win32c::kShareRead | win32c::kShareWrite);
  if (h == kInvalidWin32Handle) return Win32Failure(path, sys.LastError());
  ScopedHandle held(sys, h);
  uint8_t length[8] = {};
  uint32_t returned = 0;
  if (!sys.Ioctl(h, win32c::kIoctlDiskGetLengthInfo, nullptr, 0, length, sizeof length, returned)) {
    return Win32Failure(path, sys.LastError());
  }
  return std::unique_ptr<ICardReader>(
      std::make_unique<Win32DiskReader>(sys, path, held.Release(), GetU64(length, 0)));
}

// The factories of win32_services.h, on the real calls.
std::unique_ptr<IDiskService> MakeWin32DiskService(const Win32DiskOptions& options) {
  return MakeWin32DiskService(options, RealWin32DiskCalls(), SystemClock());
}

SysStatus CheckWin32Target(const std::string& path, bool allowFixed,
                           const std::function<std::vector<ProtectedPath>()>& protectedPaths) {
  return CheckWin32Target(RealWin32DiskCalls(), path, allowFixed, protectedPaths);
}

std::vector<HostDisk> ListWin32Disks(
    const std::function<std::vector<ProtectedPath>()>& protectedPaths) {
  return ListWin32Disks(RealWin32DiskCalls(), protectedPaths);
}

SysResult<std::unique_ptr<ICardReader>> OpenWin32DiskReader(const std::string& path) {
  return OpenWin32DiskReader(RealWin32DiskCalls(), path);
}

}  // namespace tarnwick
