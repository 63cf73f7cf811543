// Large buffers: whole pages from the system, usable to the last byte, pages
// handed back read as zeros, refusals as std::bad_alloc, and vectors over them
// that keep every value given.
#include "platform/fs/large_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "large_buffer_sizes.h"

namespace tarnwick::testing {
namespace {

TEST(LargeBuffer, EveryByteIsUsableAndStartsOnAPage) {
  for (size_t size : kSizes) {
    auto* p = static_cast<uint8_t*>(AllocateLargeBuffer(size));
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kPage, 0u) << size;
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(i * 13 + 1);
    size_t wrong = 0;
    for (size_t i = 0; i < size; ++i) wrong += p[i] != static_cast<uint8_t>(i * 13 + 1);
    EXPECT_EQ(wrong, 0u) << size;
    FreeLargeBuffer(p, size);
  }
}

TEST(LargeBuffer, ReleasedPagesReadAsZerosAndPartPagesKeepTheirBytes) {
  struct Case {
    const char* name;
    size_t from;
    size_t size;
    size_t zeroFrom;  // the bytes [zeroFrom, zeroEnd) read as zeros afterwards
    size_t zeroEnd;
  };
  const Case cases[] = {
      {"WholeBuffer", 0, 5 * kPage, 0, 5 * kPage},
      {"PartPagesAtBothEnds", kPage + 1, 3 * kPage - 2, 2 * kPage, 3 * kPage},
      {"AlignedMiddle", kPage, 2 * kPage, kPage, 3 * kPage},
      {"UpToTheEndOfAPartPage", 0, 5 * kPage - 1, 0, 4 * kPage},
      {"LessThanAPage", 10, kPage - 20, 0, 0},
      {"Nothing", kPage, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const size_t size = 5 * kPage;
    auto* p = static_cast<uint8_t*>(AllocateLargeBuffer(size));
    std::fill(p, p + size, uint8_t{0xAB});
    ReleaseLargeBufferPages(p + c.from, c.size);
    size_t wrong = 0;
    for (size_t i = 0; i < size; ++i) {
      const uint8_t expected = i >= c.zeroFrom && i < c.zeroEnd ? 0 : 0xAB;
      wrong += p[i] != expected;
    }
    EXPECT_EQ(wrong, 0u) << c.name;
    // The buffer stays usable.
    p[0] = 1;
    p[size - 1] = 2;
    EXPECT_EQ(p[0] + p[size - 1], 3) << c.name;
    FreeLargeBuffer(p, size);
  }
}

TEST(LargeBuffer, SystemRefusalIsBadAlloc) {
  EXPECT_THROW(static_cast<void>(AllocateLargeBuffer(0)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(AllocateLargeBuffer(SIZE_MAX - 100)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(AllocateLargeBuffer(SIZE_MAX / 4)), std::bad_alloc);
  EXPECT_THROW(LargeBytes(SIZE_MAX / 4), std::bad_alloc);
}

TEST(LargeBytes, ValuesGivenAreKept) {
  for (size_t size : {size_t{1}, kPage + 1, kHugePage + 513}) {
    LargeBytes filled(size, 0x5A);
    EXPECT_TRUE(std::all_of(filled.begin(), filled.end(), [](uint8_t b) { return b == 0x5A; }))
        << size;

    LargeBytes assigned;
    assigned.assign(size, 0xC3);
    EXPECT_EQ(assigned.size(), size);
    EXPECT_TRUE(std::all_of(assigned.begin(), assigned.end(), [](uint8_t b) { return b == 0xC3; }))
        << size;

    // Growing keeps what was there; the values asked for fill the rest.
    assigned.resize(size + kHugePage, 0x11);
    EXPECT_TRUE(std::all_of(assigned.begin(), assigned.begin() + size, [](uint8_t b) {
      return b == 0xC3;
    })) << size;
    EXPECT_TRUE(std::all_of(assigned.begin() + size, assigned.end(), [](uint8_t b) {
      return b == 0x11;
    })) << size;

    const LargeBytes copy = assigned;
    EXPECT_EQ(copy, assigned) << size;
    LargeBytes moved = std::move(assigned);
    EXPECT_EQ(moved, copy) << size;
  }
}

}  // namespace
}  // namespace tarnwick::testing
