// Windows implementation of the whole-file access.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "platform/fs/file_access.h"
#include "platform/fs/win32_text.h"

namespace tarnwick {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : m_handle(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(m_handle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return m_handle; }
  bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  // Closes now and reports whether the close succeeded.
  [[nodiscard]] bool Close() {
    HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE m_handle;
};

std::wstring DirName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::wstring BaseName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Writes all of bytes at the file's current position, then cuts the file there.
bool WriteAllAndCut(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr)) return false;
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    done += n;
  }
  return SetEndOfFile(file) != 0;
}

// Overwrites the existing file at target with bytes, keeping the file itself.
SysStatus RewriteInPlace(const std::wstring& target, const std::string& bytes) {
  Handle file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win32::LastErrorStatus();
  if (!WriteAllAndCut(file.get(), bytes) || !FlushFileBuffers(file.get()) || !file.Close())
    return win32::LastErrorStatus();
  return {};
}

// Creates a new, empty temporary file next to target; fills *name.
HANDLE CreateTempFile(const std::wstring& target, std::wstring* name) {
  static std::atomic<unsigned> counter{0};
  const std::wstring stem = DirName(target) + L"\\~" + BaseName(target) + L".tmp-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = stem + std::to_wstring(counter++);
    HANDLE file = CreateFileW(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// True when the file at target has more than one name (hard links), which a
// rename over it would part.
bool HasSeveralNames(const std::wstring& target) {
  Handle file(CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return file.valid() && GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks > 1;
}

}  // namespace

SysResult<std::string> ReadWholeFile(const std::string& path) {
  Handle file(CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win32::LastErrorStatus();
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return win32::ErrorStatus(ERROR_INVALID_FUNCTION);
  std::string bytes;
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) return win32::LastErrorStatus();
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  return bytes;
}

PathKind KindOfPath(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                          : PathKind::Unreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  // Devices and pipes have names of their own ("\\.\..."); a name in a
  // folder is a file.
  if (path.rfind("\\\\.\\", 0) == 0) return PathKind::BlockDevice;
  return PathKind::RegularFile;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  // Opened for no access at all: the identity of a file that others hold is
  // still told.
  HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

bool IsSymbolicLink(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsMissingFile(const SysStatus& status) {
  const std::error_code& code = status.Code();
  return code.category() == std::system_category() &&
         (code.value() == ERROR_FILE_NOT_FOUND || code.value() == ERROR_PATH_NOT_FOUND);
}

SysStatus ReplaceFileContents(const std::string& path, const std::string& bytes) {
  const std::wstring target = win32::Widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) return win32::LastErrorStatus();
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return win32::ErrorStatus(ERROR_ACCESS_DENIED);
  // A link is never written through: the program may run elevated in a
  // folder others can write, where a link could point it at any file.
  if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return {std::error_code(ERROR_CANT_ACCESS_FILE, std::system_category()),
            "it is a symbolic link, which is never written through"};
  }
  // A read-only file stays as it is, although its folder would take a new one.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
    return win32::ErrorStatus(ERROR_ACCESS_DENIED);
  // Renaming over a link would replace the link: write through it instead.
  if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return RewriteInPlace(target, bytes);
  if (exists && HasSeveralNames(target)) return RewriteInPlace(target, bytes);

  std::wstring tempName;
  Handle temp(CreateTempFile(target, &tempName));
  if (!temp.valid()) {
    if (exists) return RewriteInPlace(target, bytes);
    return win32::LastErrorStatus();
  }
  const auto discard = [&]() {
    const SysStatus error = win32::LastErrorStatus();
    if (temp.valid()) (void)temp.Close();
    DeleteFileW(tempName.c_str());
    return error;
  };
  if (!WriteAllAndCut(temp.get(), bytes) || !FlushFileBuffers(temp.get()) || !temp.Close())
    return discard();
  if (!MoveFileExW(tempName.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(tempName.c_str());
    // A file held open without delete sharing cannot be renamed over, but it
    // may still be written.
    if (exists && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION))
      return RewriteInPlace(target, bytes);
    return win32::ErrorStatus(error);
  }
  return {};
}

std::string WorkingDirectory() {
  // The length with the terminator when the buffer is too small, the length
  // without it on success; the directory may change between the two calls.
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return std::string();
    if (n < buffer.size()) {
      buffer.resize(n);
      return win32::Narrow(buffer);
    }
    buffer.assign(n, L'\0');
  }
  return std::string();
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  // A drive root (C:\ with its backslash) or a folder given with a slash ends in its separator.
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + '\\' + name;
}

}  // namespace tarnwick

namespace tarnwick {

SysStatus AppendToFile(const std::string& path, const std::string& bytes) {
  // FILE_APPEND_DATA alone: every write lands at the end of the file, as
  // with O_APPEND, whoever else appends. The threads of this process append
  // one at a time as well: Wine moves to the end and writes in two steps.
  static std::mutex appending;
  const std::lock_guard<std::mutex> lock(appending);
  Handle file(CreateFileW(win32::Widen(path).c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win32::LastErrorStatus();
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return win32::ErrorStatus(ERROR_INVALID_FUNCTION);
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return win32::LastErrorStatus();
  }
  if (written != bytes.size()) return win32::ErrorStatus(ERROR_DISK_FULL);
  if (!file.Close()) return win32::LastErrorStatus();
  return SysStatus::Ok();
}

}  // namespace tarnwick
