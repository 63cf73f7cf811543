// The real Windows calls of the physical-disk service, and the process-wide
// queries of win32_services.h (console width, elevation).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "platform/fs/win32_text.h"
#include "platform/win32/scsi_bus_win32.h"
#include "platform/win32/win32_disk_calls.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {

static_assert(win32c::kGenericRead == GENERIC_READ);
static_assert(win32c::kGenericWrite == GENERIC_WRITE);
static_assert(win32c::kShareRead == FILE_SHARE_READ);
static_assert(win32c::kShareWrite == FILE_SHARE_WRITE);
static_assert(win32c::kFlagNoBuffering == FILE_FLAG_NO_BUFFERING);
static_assert(win32c::kFlagWriteThrough == FILE_FLAG_WRITE_THROUGH);
static_assert(win32c::kErrorHandleEof == ERROR_HANDLE_EOF);
static_assert(win32c::kIoctlDiskGetDriveGeometry == IOCTL_DISK_GET_DRIVE_GEOMETRY);
static_assert(win32c::kIoctlStorageGetMediaTypesEx == IOCTL_STORAGE_GET_MEDIA_TYPES_EX);
static_assert(win32c::kIoctlStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(win32c::kIoctlVolumeGetVolumeDiskExtents == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(win32c::kIoctlDiskGetLengthInfo == IOCTL_DISK_GET_LENGTH_INFO);
static_assert(win32c::kIoctlDiskUpdateProperties == IOCTL_DISK_UPDATE_PROPERTIES);
static_assert(win32c::kFsctlLockVolume == FSCTL_LOCK_VOLUME);
static_assert(win32c::kFsctlDismountVolume == FSCTL_DISMOUNT_VOLUME);
static_assert(win32c::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(win32c::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(win32c::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(win32c::kErrorNotReady == ERROR_NOT_READY);
static_assert(win32c::kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(win32c::kErrorLockViolation == ERROR_LOCK_VIOLATION);
static_assert(win32c::kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL);
static_assert(win32c::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
// The decoders read these records at fixed offsets.
static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(offsetof(GET_MEDIA_TYPES, MediaInfo) == 8);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8 && sizeof(DISK_EXTENT) == 24);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12 &&
              offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == 4);

namespace {

using win32::Narrow;
using win32::Widen;

std::string TrimNul(std::wstring s) {
  s.resize(wcsnlen(s.c_str(), s.size()));
  return Narrow(s);
}

class RealCalls final : public IWin32DiskCalls {
 public:
  Win32Handle Open(const std::string& path, uint32_t access, uint32_t share) override {
    HANDLE h = CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    m_lastError = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return h;
  }
  Win32Handle OpenWithFlags(const std::string& path, uint32_t access, uint32_t share,
                            uint32_t flags) override {
    HANDLE h =
        CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    m_lastError = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return h;
  }
  bool Ioctl(Win32Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
             uint32_t outSize, uint32_t& returned) override {
    DWORD got = 0;
    const BOOL ok =
        DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
    returned = got;
    return Result(ok != 0);
  }
  bool Seek(Win32Handle h, uint32_t low, int32_t high) override {
    LONG hi = high;
    SetLastError(NO_ERROR);
    const DWORD r = SetFilePointer(h, static_cast<LONG>(low), &hi, FILE_BEGIN);
    return Result(!(r == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR));
  }
  bool Write(Win32Handle h, const void* data, uint32_t len, uint32_t& written) override {
    DWORD n = 0;
    const BOOL ok = WriteFile(h, data, len, &n, nullptr);
    written = n;
    return Result(ok != 0);
  }
  bool Read(Win32Handle h, void* data, uint32_t len, uint32_t& read) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(h, data, len, &n, nullptr);
    read = n;
    return Result(ok != 0);
  }
  bool Flush(Win32Handle h) override { return Result(FlushFileBuffers(h) != 0); }
  void Close(Win32Handle h) override {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
  }
  uint32_t LastError() override { return m_lastError; }

  std::vector<std::string> Volumes() override {
    std::vector<std::string> out;
    wchar_t name[MAX_PATH + 1];
    HANDLE find = FindFirstVolumeW(name, MAX_PATH + 1);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
      out.push_back(Narrow(name));
    } while (FindNextVolumeW(find, name, MAX_PATH + 1));
    FindVolumeClose(find);
    return out;
  }

  std::vector<std::string> MountPoints(const std::string& volume) override {
    std::vector<std::string> out;
    std::wstring names(1024, L'\0');
    DWORD length = 0;
    if (!GetVolumePathNamesForVolumeNameW(Widen(volume).c_str(), names.data(),
                                          static_cast<DWORD>(names.size()), &length)) {
      return out;
    }
    // A list of strings, each ended by a NUL, the list by a second NUL.
    for (const wchar_t* p = names.c_str(); *p; p += wcslen(p) + 1) out.push_back(Narrow(p));
    return out;
  }

  std::string VolumeOfPath(const std::string& path) override {
    wchar_t mount[MAX_PATH + 1];
    if (!GetVolumePathNameW(Widen(path).c_str(), mount, MAX_PATH + 1)) return {};
    wchar_t volume[MAX_PATH + 1];
    if (!GetVolumeNameForVolumeMountPointW(mount, volume, MAX_PATH + 1)) return {};
    return Narrow(volume);
  }

  std::string WindowsFolder() override {
    std::wstring folder(MAX_PATH + 1, L'\0');
    const UINT n = GetWindowsDirectoryW(folder.data(), MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    folder.resize(n);
    return Narrow(folder);
  }

  std::vector<std::string> PageFiles() override {
    // Each entry is "<path> <initial> <maximum>"; "?:" stands for the system
    // drive, which the Windows folder already covers.
    std::vector<std::string> out;
    std::wstring data(4096, L'\0');
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                     L"PagingFiles", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &bytes) != ERROR_SUCCESS) {
      return out;
    }
    data.resize(bytes / sizeof(wchar_t));
    for (const wchar_t* p = data.c_str(); *p; p += wcslen(p) + 1) {
      std::wstring entry(p);
      entry = entry.substr(0, entry.find(L' '));
      if (entry.size() >= 2 && entry[1] == L':' && entry[0] != L'?') out.push_back(Narrow(entry));
    }
    return out;
  }

  std::string CurrentDirectory() override {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring dir(n, L'\0');
    GetCurrentDirectoryW(n, dir.data());
    return TrimNul(dir);
  }

  std::vector<std::string> DiskInterfaces() override {
    // The SCSI bus's walk of the disk interfaces, on its real calls; it ends
    // at the first interface that cannot be read, as the board search does.
    constexpr uint32_t kMaxInterfaces = 256;
    std::vector<std::string> paths;
    Win32ScsiBus bus(SystemWin32ScsiCalls());
    SysResult<std::unique_ptr<IScsiInterfaceSet>> set = bus.GetInterfaceSet();
    if (!set) return paths;
    for (uint32_t i = 0; i < kMaxInterfaces; ++i) {
      InterfacePath found = set.Value()->GetInterfacePath(i);
      if (found.lookup != InterfaceLookup::Found) break;
      paths.push_back(std::move(found.path));
    }
    return paths;
  }

  std::string InterfaceInstance(const std::string& path) override {
    std::string instance;
    if (!SystemWin32ScsiCalls().GetInterfaceInstance(path, instance)) return {};
    return instance;
  }

 private:
  bool Result(bool ok) {
    m_lastError = ok ? 0 : GetLastError();
    return ok;
  }

  uint32_t m_lastError = 0;
};

}  // namespace

IWin32DiskCalls& RealWin32DiskCalls() {
  static RealCalls calls;
  return calls;
}

int Win32ConsoleColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

bool Win32IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated != 0;
}

}  // namespace tarnwick
