#pragma once
// A scripted stand-in for the Windows disk calls: physical disks with their
// answers, volumes with the disks they lie on and how long they stay locked
// by someone else, and a log of every call in order.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/le.h"
#include "platform/disk_service.h"
#include "platform/win32/win32_disk_calls.h"
#include "platform/win32/win32_disks.h"

namespace tarnwick::testing {

struct FakeWin32Disk {
  uint32_t openError = 0;  // a failing open of any kind
  bool geometryOk = true;
  DiskGeometry geometry{482, kRemovableMedia, 255, 63, 512};
  bool mediaOk = false;
  uint32_t mediaEntries = 1;
  DiskGeometry media{};
  int sharingViolations = 0;  // write opens refused with ERROR_SHARING_VIOLATION
  uint64_t length = 0;        // IOCTL_DISK_GET_LENGTH_INFO
  bool updateOk = true;
  bool numberOk = true;  // IOCTL_STORAGE_GET_DEVICE_NUMBER: type 7 (disk), its own number
};

// A disk interface ("\\?\usbstor#...#{53f56307-...}") and the disk it leads to.
struct FakeWin32Interface {
  std::string path;
  std::string instance;     // the device instance ID; empty: cannot be told
  uint32_t deviceType = 7;  // FILE_DEVICE_DISK
  uint32_t deviceNumber = 0;
  uint32_t openError = 0;
  bool numberOk = true;
};

struct FakeWin32Volume {
  std::string name;  // "\\?\Volume{...}\"
  std::vector<std::string> mounts;
  std::vector<uint32_t> disks;
  int lockRefusals = 0;  // -1: never lockable
  uint32_t lockError = win32c::kErrorAccessDenied;
  bool dismountOk = true;
};

struct FakeWrite {
  uint64_t position;
  uint32_t length;
  bool aligned;
  uint8_t firstByte;
};

class FakeWin32DiskCalls final : public IWin32DiskCalls {
 public:
  std::map<uint32_t, FakeWin32Disk> disks;
  std::vector<FakeWin32Volume> volumes;
  std::map<std::string, std::string> volumeOfPath;  // file or folder -> volume
  std::string windowsFolder = "C:\\Windows";
  std::vector<std::string> pageFiles;
  std::string cwd = "D:\\work";
  std::vector<std::string> log;  // every call, in order
  std::vector<FakeWrite> writes;
  int failWriteAt = -1;  // index of the WriteFile that fails
  uint32_t writeError = win32c::kErrorNotReady;
  int shortWriteAt = -1;  // index of the WriteFile that writes half
  bool seekFails = false;
  uint64_t seekPosition = 0;
  std::map<std::string, uint32_t> openFlags;  // the FILE_FLAG_ values of the last open of a path
  std::vector<std::string> readsOn;           // the path of each ReadFile's handle
  int shortReadAt = -1;                       // index of the ReadFile that reads half
  std::vector<FakeWin32Interface> interfaces;

  Win32Handle Open(const std::string& path, uint32_t access, uint32_t share) override {
    const std::string mode = std::string(access & win32c::kGenericRead ? "r" : "") +
                             (access & win32c::kGenericWrite ? "w" : "") + "/" +
                             (share & win32c::kShareRead ? "r" : "") +
                             (share & win32c::kShareWrite ? "w" : "");
    log.push_back("open " + path + " " + mode);
    uint32_t number = 0;
    if (Win32DiskNumber(path, number)) {
      auto it = disks.find(number);
      if (it == disks.end()) return Fail(win32c::kErrorFileNotFound);
      if (it->second.openError != 0) return Fail(it->second.openError);
      if ((access & win32c::kGenericWrite) && it->second.sharingViolations > 0) {
        --it->second.sharingViolations;
        return Fail(win32c::kErrorSharingViolation);
      }
    } else if (FakeWin32Interface* i = FindInterface(path)) {
      if (i->openError != 0) return Fail(i->openError);
    } else if (!FindVolume(path + "\\")) {
      return Fail(win32c::kErrorFileNotFound);
    }
    m_open.push_back(path);
    return reinterpret_cast<Win32Handle>(m_open.size());
  }

  Win32Handle OpenWithFlags(const std::string& path, uint32_t access, uint32_t share,
                            uint32_t flags) override {
    openFlags[path] = flags;
    return Open(path, access, share);
  }

  bool Ioctl(Win32Handle h, uint32_t code, const void*, uint32_t, void* out, uint32_t outSize,
             uint32_t& returned) override {
    const std::string& path = PathOf(h);
    log.push_back(CodeName(code) + " " + path);
    returned = 0;
    auto* o = static_cast<uint8_t*>(out);
    uint32_t number = 0;
    if (Win32DiskNumber(path, number)) {
      FakeWin32Disk& d = disks[number];
      switch (code) {
        case win32c::kIoctlDiskGetDriveGeometry:
          if (!d.geometryOk) return Refuse(1);
          Encode(o, d.geometry);
          returned = 24;
          return true;
        case win32c::kIoctlStorageGetMediaTypesEx:
          if (!d.mediaOk) return Refuse(1);
          std::memset(o, 0xCC, outSize);  // what an answer without entries leaves behind
          PutU32(o, 0, 7);
          PutU32(o, 4, d.mediaEntries);
          Encode(o + 8, d.media);
          returned = d.mediaEntries == 0 ? 8 : 8 + 24 * d.mediaEntries;
          return true;
        case win32c::kIoctlDiskGetLengthInfo:
          PutU64(o, 0, d.length);
          returned = 8;
          return true;
        case win32c::kIoctlDiskUpdateProperties:
          return d.updateOk || Refuse(win32c::kErrorAccessDenied);
        case win32c::kIoctlStorageGetDeviceNumber:
          if (!d.numberOk) return Refuse(1);
          return DeviceNumber(o, outSize, 7, number, returned);
        default:
          return Refuse(win32c::kErrorInvalidParameter);
      }
    }
    if (FakeWin32Interface* i = FindInterface(path)) {
      if (code != win32c::kIoctlStorageGetDeviceNumber || !i->numberOk) return Refuse(1);
      return DeviceNumber(o, outSize, i->deviceType, i->deviceNumber, returned);
    }
    FakeWin32Volume* v = FindVolume(path + "\\");
    switch (code) {
      case win32c::kIoctlVolumeGetVolumeDiskExtents:
        PutU32(o, 0, static_cast<uint32_t>(v->disks.size()));
        for (size_t i = 0; i < v->disks.size(); ++i) PutU32(o, 8 + 24 * i, v->disks[i]);
        returned = static_cast<uint32_t>(8 + 24 * v->disks.size());
        return true;
      case win32c::kFsctlLockVolume:
        if (v->lockRefusals == 0) return true;
        if (v->lockRefusals > 0) --v->lockRefusals;
        return Refuse(v->lockError);
      case win32c::kFsctlDismountVolume:
        return v->dismountOk || Refuse(win32c::kErrorAccessDenied);
      default:
        return Refuse(win32c::kErrorInvalidParameter);
    }
  }

  bool Seek(Win32Handle, uint32_t low, int32_t high) override {
    log.push_back("seek " + Hex(low) + " " + Hex(static_cast<uint32_t>(high)));
    if (seekFails) return Refuse(win32c::kErrorInvalidParameter);
    seekPosition = uint64_t{low} | (uint64_t{static_cast<uint32_t>(high)} << 32);
    return true;
  }

  bool Write(Win32Handle, const void* data, uint32_t len, uint32_t& written) override {
    const int index = static_cast<int>(writes.size());
    writes.push_back({seekPosition, len, reinterpret_cast<uintptr_t>(data) % 4096 == 0,
                      len ? *static_cast<const uint8_t*>(data) : uint8_t{0}});
    log.push_back("write " + std::to_string(len));
    written = index == shortWriteAt ? len / 2 : len;
    if (index == failWriteAt) return Refuse(writeError);
    return true;
  }

  bool Read(Win32Handle h, void* data, uint32_t len, uint32_t& read) override {
    const int index = static_cast<int>(readsOn.size());
    readsOn.push_back(PathOf(h));
    // Every byte of the fake disk holds the low byte of its sector number.
    auto* o = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i < len; ++i) o[i] = static_cast<uint8_t>((seekPosition + i) / 512);
    read = index == shortReadAt ? len / 2 : len;
    return true;
  }

  bool Flush(Win32Handle h) override {
    log.push_back("flush " + PathOf(h));
    return true;
  }
  void Close(Win32Handle h) override { log.push_back("close " + PathOf(h)); }
  uint32_t LastError() override { return m_lastError; }

  std::vector<std::string> Volumes() override {
    std::vector<std::string> names;
    for (const auto& v : volumes) names.push_back(v.name);
    return names;
  }
  std::vector<std::string> MountPoints(const std::string& volume) override {
    FakeWin32Volume* v = FindVolume(volume);
    return v ? v->mounts : std::vector<std::string>{};
  }
  std::string VolumeOfPath(const std::string& path) override {
    auto it = volumeOfPath.find(path);
    return it == volumeOfPath.end() ? std::string() : it->second;
  }
  std::string WindowsFolder() override { return windowsFolder; }
  std::vector<std::string> PageFiles() override { return pageFiles; }
  std::string CurrentDirectory() override { return cwd; }
  std::vector<std::string> DiskInterfaces() override {
    log.push_back("interfaces");
    std::vector<std::string> paths;
    for (const auto& i : interfaces) paths.push_back(i.path);
    return paths;
  }
  std::string InterfaceInstance(const std::string& path) override {
    log.push_back("instance " + path);
    FakeWin32Interface* i = FindInterface(path);
    return i ? i->instance : std::string();
  }

  // The calls made on paths that contain text, in order.
  std::vector<std::string> CallsOn(const std::string& text) const {
    std::vector<std::string> out;
    for (const auto& l : log) {
      if (l.find(text) != std::string::npos) out.push_back(l);
    }
    return out;
  }

 private:
  static void Encode(uint8_t* o, const DiskGeometry& g) {
    PutU64(o, 0, static_cast<uint64_t>(g.Cylinders));
    PutU32(o, 8, g.MediaType);
    PutU32(o, 12, g.TracksPerCylinder);
    PutU32(o, 16, g.SectorsPerTrack);
    PutU32(o, 20, g.BytesPerSector);
  }
  static std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%x", v);
    return b;
  }
  static std::string CodeName(uint32_t code) {
    switch (code) {
      case win32c::kIoctlDiskGetDriveGeometry:
        return "geometry";
      case win32c::kIoctlStorageGetMediaTypesEx:
        return "media";
      case win32c::kIoctlVolumeGetVolumeDiskExtents:
        return "extents";
      case win32c::kIoctlDiskGetLengthInfo:
        return "length";
      case win32c::kIoctlDiskUpdateProperties:
        return "update";
      case win32c::kIoctlStorageGetDeviceNumber:
        return "number";
      case win32c::kFsctlLockVolume:
        return "lock";
      case win32c::kFsctlDismountVolume:
        return "dismount";
      default:
        return "ioctl";
    }
  }
  // STORAGE_DEVICE_NUMBER, partition number 0.
  bool DeviceNumber(uint8_t* o, uint32_t outSize, uint32_t type, uint32_t number,
                    uint32_t& returned) {
    if (outSize < 12) return Refuse(122);  // ERROR_INSUFFICIENT_BUFFER
    PutU32(o, 0, type);
    PutU32(o, 4, number);
    PutU32(o, 8, 0);
    returned = 12;
    return true;
  }
  FakeWin32Interface* FindInterface(const std::string& path) {
    for (auto& i : interfaces) {
      if (i.path == path) return &i;
    }
    return nullptr;
  }
  FakeWin32Volume* FindVolume(const std::string& name) {
    for (auto& v : volumes) {
      if (v.name == name) return &v;
    }
    return nullptr;
  }
  const std::string& PathOf(Win32Handle h) const {
    return m_open.at(reinterpret_cast<uintptr_t>(h) - 1);
  }
  Win32Handle Fail(uint32_t err) {
    m_lastError = err;
    return kInvalidWin32Handle;
  }
  bool Refuse(uint32_t err) {
    m_lastError = err;
    return false;
  }

  std::vector<std::string> m_open;
  uint32_t m_lastError = 0;
};

}  // namespace tarnwick::testing
