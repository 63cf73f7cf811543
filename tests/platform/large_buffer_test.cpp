// Large buffers: whole pages from the system, huge-page backed where they
// can be, handed back completely, and vectors over them that keep every value given.
#include "platform/fs/large_buffer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tarnwick::testing {
namespace {

constexpr size_t kPage = 4096;
constexpr size_t kHugePage = size_t{2} << 20;

// Sizes on both sides of the page and huge-page boundaries.
constexpr size_t kSizes[] = {
    1, kPage - 1, kPage, kPage + 1, kHugePage - 1, kHugePage, kHugePage + 1, 5 * kHugePage + 123};

// The process's mapped size in pages, read without allocating memory.
long MappedPages() {
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[128] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  return n > 0 ? std::strtol(text, nullptr, 10) : -1;
}

// True when no page of [start, start + length) is mapped.
bool Unmapped(const void* start, size_t length) {
  unsigned char resident = 0;
  for (size_t at = 0; at < length; at += kPage) {
    const auto* page = static_cast<const uint8_t*>(start) + at;
    if (::mincore(const_cast<uint8_t*>(page), 1, &resident) == 0 || errno != ENOMEM) return false;
  }
  return true;
}

// The "THPeligible" value of the mapping holding address, or "" when
// /proc/self/smaps does not say.
std::string HugePageEligible(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto target = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t from = 0;
    uintptr_t to = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= target && target < to;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return line.substr(line.find_first_not_of(" \t", 12));
    }
  }
  return "";
}

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

TEST(LargeBuffer, FreeHandsBackEveryPage) {
  // Repeated allocations leave the process's mapped size where it was.
  for (size_t size : kSizes) FreeLargeBuffer(AllocateLargeBuffer(size), size);  // warm-up
  const long before = MappedPages();
  ASSERT_GT(before, 0);
  for (int round = 0; round < 20; ++round) {
    for (size_t size : kSizes) FreeLargeBuffer(AllocateLargeBuffer(size), size);
  }
  EXPECT_EQ(MappedPages(), before);

  for (size_t size : kSizes) {
    void* p = AllocateLargeBuffer(size);
    const size_t mapped = (size + kPage - 1) / kPage * kPage;
    FreeLargeBuffer(p, size);
    EXPECT_TRUE(Unmapped(p, mapped)) << size;
  }
}

TEST(LargeBuffer, LargeBuffersMayBeBackedByHugePages) {
  std::ifstream modeFile("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string mode;
  std::getline(modeFile, mode);
  if (mode.empty() || mode.find("[never]") != std::string::npos)
    GTEST_SKIP() << "transparent huge pages are not available on this kernel";
  const size_t size = 3 * kHugePage + 7;
  void* p = AllocateLargeBuffer(size);
  const std::string eligible = HugePageEligible(p);
  FreeLargeBuffer(p, size);
  if (eligible.empty()) GTEST_SKIP() << "/proc/self/smaps has no THPeligible field";
  EXPECT_EQ(eligible, "1");
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
