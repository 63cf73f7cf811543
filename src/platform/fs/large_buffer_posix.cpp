// POSIX implementation of the large buffers: anonymous private mappings.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/fs/large_buffer.h"

namespace tarnwick {

void* AllocateLargeBuffer(size_t size) {
  if (size == 0) throw std::bad_alloc();
  // The system rounds the length up to whole pages here and in every call below.
  void* buffer = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (buffer == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Refused where the kernel has no transparent huge pages: the buffer then
  // stays in small pages. Whatever of it lies in whole, aligned huge pages
  // can be backed by them (all of it when the kernel aligns large mappings).
  ::madvise(buffer, size, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  // Kernels before 5.14 refuse; the pages then come as they are first written.
  // Lack of memory shows here rather than as a fault in the middle of a read.
  if (::madvise(buffer, size, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
    ::munmap(buffer, size);
    throw std::bad_alloc();
  }
#endif
  return buffer;
}

void FreeLargeBuffer(void* buffer, size_t size) noexcept {
  if (buffer) ::munmap(buffer, size);
}

void ReleaseLargeBufferPages(void* start, size_t size) noexcept {
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) return;
  const auto page = static_cast<uintptr_t>(pageSize);
  const auto from = reinterpret_cast<uintptr_t>(start);
  const uintptr_t first = (from + page - 1) & ~(page - 1);
  const uintptr_t end = (from + size) & ~(page - 1);
  // Private anonymous pages given up this way come back zero-filled.
  if (first < end) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

}  // namespace tarnwick
