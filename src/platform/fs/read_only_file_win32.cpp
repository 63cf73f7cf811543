// Windows implementation of the read-only file.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>

#include "platform/fs/read_only_file.h"
#include "platform/fs/win32_text.h"

namespace tarnwick {
namespace {

// One ReadFile moves at most this much (its count is 32-bit); a larger read
// is continued.
constexpr size_t kMaxReadChunk = size_t{1} << 30;

}  // namespace

struct ReadOnlyFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
};

ReadOnlyFile::ReadOnlyFile() = default;

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

bool ReadOnlyFile::IsOpen() const {
  return m_handle != nullptr;
}

SysStatus ReadOnlyFile::Open(const std::string& path) {
  Close();
  // Others may read the file meanwhile but not change it; a program that
  // holds it open for writing makes the open fail with a sharing violation.
  const HANDLE file =
      CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return win32::LastErrorStatus();
  // Pipes, consoles and devices are not files to read a pack from.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return {std::make_error_code(std::errc::invalid_argument), "not a regular file"};
  }
  m_handle = std::make_unique<Handle>(Handle{file});
  return {};
}

SysResult<uint64_t> ReadOnlyFile::Size() {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(m_handle->file, &size)) return win32::LastErrorStatus();
  return static_cast<uint64_t>(size.QuadPart);
}

SysResult<size_t> ReadOnlyFile::ReadAt(uint64_t offset, uint8_t* buf, size_t length) {
  if (!m_handle) return win32::ErrorStatus(ERROR_INVALID_HANDLE);
  if (SysStatus fault = ReadFaultAt(offset, length); !fault) return fault;
  size_t got = 0;
  while (got < length) {
    const uint64_t position = offset + got;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const auto chunk = static_cast<DWORD>(std::min(length - got, kMaxReadChunk));
    DWORD n = 0;
    if (!ReadFile(m_handle->file, buf + got, chunk, &n, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return win32::ErrorStatus(error);
    }
    if (n == 0) break;  // end of file
    got += n;
  }
  return got;
}

void ReadOnlyFile::Close() {
  if (!m_handle) return;
  CloseHandle(m_handle->file);
  m_handle.reset();
}

}  // namespace tarnwick
