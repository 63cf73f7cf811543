#pragma once
// Memory for the big file contents a burn holds at once (the images of a pack,
// a gigabyte or more). It is taken from the system in whole pages, asked to be
// backed by huge pages and made present in one go: faulting such a buffer in
// page by page costs more than reading the file into it, markedly so in
// virtual machines.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace tarnwick {

// size bytes (more than 0), their contents unspecified. Throws std::bad_alloc
// when the system refuses the memory.
[[nodiscard]] void* AllocateLargeBuffer(size_t size);
// Hands back a buffer that AllocateLargeBuffer gave for size bytes.
void FreeLargeBuffer(void* buffer, size_t size) noexcept;
// Hands the memory of the whole pages within [start, start + size) back to the
// system while the buffer stays usable: those pages read as zeros afterwards,
// the bytes of pages only partly inside the range are kept. The range must
// lie within one buffer from AllocateLargeBuffer.
void ReleaseLargeBufferPages(void* start, size_t size) noexcept;

// Allocator of large buffers for vectors. Where a vector would value-initialise
// its elements (the size constructor, resize) they are left as they are, so a
// buffer about to be read into is not zero-filled first: whoever sizes a
// vector this way writes every element.
template <typename T>
struct LargeBufferAllocator {
  using value_type = T;

  LargeBufferAllocator() = default;
  template <typename U>
  LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateLargeBuffer(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { FreeLargeBuffer(p, n * sizeof(T)); }

  template <typename U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const LargeBufferAllocator&, const LargeBufferAllocator&) { return true; }
};

// Bytes in a large buffer.
using LargeBytes = std::vector<uint8_t, LargeBufferAllocator<uint8_t>>;

}  // namespace tarnwick
