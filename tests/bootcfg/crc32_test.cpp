#include "bootcfg/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

uint32_t ZlibComplement(const std::vector<uint8_t>& bytes) {
  return ~static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(Crc32, CheckValueAndEmptyInput) {
  const CCrc32 crc;
  const std::string check = "123456789";
  EXPECT_EQ(crc.Compute(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x340BC6D9u);
  EXPECT_EQ(crc.Compute(nullptr, 0), 0xFFFFFFFFu);
}

TEST(Crc32, TableIsZlibsTable) {
  const CCrc32 crc;
  for (size_t n = 0; n < 256; ++n) EXPECT_EQ(crc.Entry(n), get_crc_table()[n]) << n;
}

TEST(Crc32, IsTheComplementOfZlibCrc32) {
  const CCrc32 crc;
  std::mt19937 random(20240611);
  for (size_t length : {1u, 2u, 3u, 511u, 512u, 1000u, 1024u, 65537u}) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    EXPECT_EQ(crc.Compute(bytes.data(), bytes.size()), ZlibComplement(bytes)) << length;
  }
  const std::vector<uint8_t> zeros(1024, 0);
  EXPECT_EQ(crc.Compute(zeros.data(), zeros.size()), ZlibComplement(zeros));
}

}  // namespace
}  // namespace tarnwick
