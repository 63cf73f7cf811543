// Windows implementation of the card image files.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>

#include "platform/fs/image_file.h"
#include "platform/fs/win32_text.h"

namespace tarnwick {

struct ImageFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool written = false;  // written to since the last flush
};

ImageFile::ImageFile() = default;

ImageFile::~ImageFile() {
  Close();
}

bool ImageFile::IsOpen() const {
  return m_handle != nullptr;
}

SysStatus ImageFile::Open(const std::string& path) {
  Close();
  const HANDLE file =
      CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return win32::LastErrorStatus();
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return win32::ErrorStatus(ERROR_INVALID_FUNCTION);
  }
  m_handle = std::make_unique<Handle>(Handle{file});
  return {};
}

SysStatus ImageFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  if (offset > static_cast<uint64_t>(INT64_MAX) - length)
    return win32::ErrorStatus(ERROR_NEGATIVE_SEEK);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const uint64_t position = offset + done;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const auto chunk = static_cast<DWORD>(std::min<size_t>(length - done, size_t{1} << 30));
    DWORD n = 0;
    if (!WriteFile(m_handle->file, bytes + done, chunk, &n, &at)) return win32::LastErrorStatus();
    if (n == 0) return win32::ErrorStatus(ERROR_DISK_FULL);
    done += n;
    m_handle->written = true;
  }
  return {};
}

SysStatus ImageFile::Flush() {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  if (!FlushFileBuffers(m_handle->file)) return win32::LastErrorStatus();
  m_handle->written = false;
  return {};
}

// The cache manager keeps a file's cached and unbuffered views coherent, so
// the file's own handle reads what the file holds once it is flushed.
SysStatus ImageFile::ReadBackAt(uint64_t offset, void* data, size_t length) {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  if (offset > static_cast<uint64_t>(INT64_MAX) - length)
    return win32::ErrorStatus(ERROR_NEGATIVE_SEEK);
  if (m_handle->written) {
    if (!FlushFileBuffers(m_handle->file)) return win32::LastErrorStatus();
    m_handle->written = false;
  }
  auto* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const uint64_t position = offset + done;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const auto chunk = static_cast<DWORD>(std::min<size_t>(length - done, size_t{1} << 30));
    DWORD n = 0;
    if (!ReadFile(m_handle->file, bytes + done, chunk, &n, &at)) return win32::LastErrorStatus();
    if (n == 0) return win32::ErrorStatus(ERROR_HANDLE_EOF);
    done += n;
  }
  return {};
}

SysResult<ImageFile::State> ImageFile::CurrentState() const {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(m_handle->file, &info)) return win32::LastErrorStatus();
  // A file deleted while open still answers, with its delete pending: its
  // link count then no longer counts the name it had.
  FILE_STANDARD_INFO standard{};
  uint64_t links = info.nNumberOfLinks;
  if (GetFileInformationByHandleEx(m_handle->file, FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending) {
    links = 0;
  }
  return State{(uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, links};
}

void ImageFile::Close() {
  if (!m_handle) return;
  CloseHandle(m_handle->file);
  m_handle.reset();
}

SysResult<FileInfo> StatFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win32::Widen(path).c_str(), GetFileExInfoStandard, &data))
    return win32::LastErrorStatus();
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileInfo{};
  return FileInfo{true, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow};
}

SysStatus CreateSparseFile(const std::string& path, uint64_t bytes) {
  if (bytes > static_cast<uint64_t>(INT64_MAX)) return win32::ErrorStatus(ERROR_FILE_TOO_LARGE);
  const std::wstring name = win32::Widen(path);
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return win32::LastErrorStatus();
  // File systems without sparse files (FAT) refuse; the file is then filled.
  DWORD returned = 0;
  (void)DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(bytes);
  if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    const SysStatus error = win32::LastErrorStatus();
    CloseHandle(file);
    DeleteFileW(name.c_str());
    return error;
  }
  CloseHandle(file);
  return {};
}

}  // namespace tarnwick
