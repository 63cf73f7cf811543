// Large buffers on Linux: freed buffers leave no mapping behind, and large
// ones may be backed by transparent huge pages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "large_buffer_sizes.h"
#include "platform/fs/large_buffer.h"

namespace tarnwick::testing {
namespace {

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

}  // namespace
}  // namespace tarnwick::testing
