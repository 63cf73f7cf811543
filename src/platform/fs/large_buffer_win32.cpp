// Windows implementation of the large buffers: committed virtual memory.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>
#include <exception>
#include <new>

#include "platform/fs/large_buffer.h"

namespace tarnwick {

void* AllocateLargeBuffer(size_t size) {
  if (size == 0) throw std::bad_alloc();
  // Committed at once, so lack of memory shows here rather than as a fault in
  // the middle of a read. Large pages would need a privilege the operator
  // rarely has; the buffer stays in small pages.
  void* buffer = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!buffer) throw std::bad_alloc();
  return buffer;
}

void FreeLargeBuffer(void* buffer, size_t) noexcept {
  if (buffer) VirtualFree(buffer, 0, MEM_RELEASE);
}

void ReleaseLargeBufferPages(void* start, size_t size) noexcept {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  const auto page = static_cast<uintptr_t>(info.dwPageSize);
  if (page == 0) return;
  const auto from = reinterpret_cast<uintptr_t>(start);
  const uintptr_t first = (from + page - 1) & ~(page - 1);
  const uintptr_t end = (from + size) & ~(page - 1);
  if (first >= end) return;
  // Decommitting gives the pages back; committing them again (which takes
  // back only the commit charge just released) makes them read as zeros.
  void* pages = reinterpret_cast<void*>(first);
  if (!VirtualFree(pages, end - first, MEM_DECOMMIT)) return;
  if (!VirtualAlloc(pages, end - first, MEM_COMMIT, PAGE_READWRITE)) {
    // The buffer would fault at its next use: stop here instead.
    std::terminate();
  }
}

}  // namespace tarnwick
