#include "bootcfg/boot_info.h"

#include <gtest/gtest.h>

#include "bootcfg_fixture.h"
#include "common/debug_log.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::GetField;
using testing::ZlibComplement;

class BootInfoTest : public ::testing::Test {
 protected:
  // The record for an image of `length` bytes of 0x5A (in a buffer of
  // length + 512 bytes, zero after the image) and the configuration.
  BootInfo Build(const BoardConfig& config, uint32_t length = 1000, int mode = 1) {
    std::vector<uint8_t> image(length + 512, 0);
    std::fill(image.begin(), image.begin() + length, 0x5A);
    BootInfo record;
    record.fill(0xEE);  // whatever an earlier build left
    BuildBootInfo(record, m_crc, config, length, image.data(), mode);
    EXPECT_EQ(GetU32(record.data(), bootinfo::kInfoCrc), ZlibComplement(record.data(), 508));
    return record;
  }

  // A configuration holding the given keys of one section.
  static BoardConfig Config(const std::string& section,
                            const std::vector<std::pair<std::string, uint32_t>>& keys) {
    BoardConfig config;
    for (const auto& [key, value] : keys) config.Set(section, key, value);
    return config;
  }

  CCrc32 m_crc;
};

// Each value's low bits land at its field; the rest of the record is the
// computed fields and zero reserved bytes.
TEST_F(BootInfoTest, EveryKeyLandsAtItsFieldTruncatedToItsWidth) {
  const testing::AllKeys all = testing::AllKeysIni(
      BootInfoSections(1), "", {{"imageStoreNum", 0x305}});  // 5 copies, explicit positions
  const BootInfo record = Build(all.config);
  std::vector<int> covered(kBootInfoSize, 0);
  for (const testing::ExpectedField& f : all.expected) {
    EXPECT_EQ(GetField(record.data(), f.offset, f.width), f.value) << "offset " << f.offset;
    for (unsigned b = 0; b < f.width; ++b) ++covered[f.offset + b];
  }
  for (size_t b : {0, 1, 2, 3, 4, 5, 6, 7, 20, 21, 22, 23, 24, 25, 26, 27, 508, 509, 510, 511})
    ++covered[b];
  for (size_t reserved : {31, 65, 66, 67, 506, 507}) {
    EXPECT_EQ(record[reserved], 0) << "reserved byte " << reserved;
    ++covered[reserved];
  }
  for (size_t b = 0; b < kBootInfoSize; ++b) EXPECT_EQ(covered[b], 1) << "byte " << b;
}

// Offsets and widths as the board reads them, independent of the field lists.
TEST_F(BootInfoTest, KnownFieldsAtTheirOffsets) {
  struct Case {
    const char *section, *key;
    uint32_t value;
    size_t offset;
    unsigned width;
    uint32_t stored;
  } const cases[] = {
      {"AddrInfo", "goAddr", 0x12345678, 16, 4, 0x12345678},
      {"ImageInfo", "imageEncrypt", 257, 28, 1, 1},
      {"imageStoreInfor", "imageStoreCoreAddr[7]", 99, 60, 4, 99},
      {"DDRCinfor", "ddrcRegAddr[0]", 0x20000010, 72, 4, 0x20000010},
      {"DDRCinfor", "ddrcRegVal[38]", 0x22, 380, 4, 0x22},
      {"DDRCinfor", "ddrcRegConfNum", 300, 392, 1, 44},
      {"NandflashInfor", "nandPageSize", 70000, 404, 2, 4464},
      {"SDIOInfor", "sdInternalDiv", 0x12345, 420, 2, 0x2345},
      {"CLKRSTInfor", "clkConfDelay", 4000, 496, 4, 4000},
      {"EFUSEInfor", "efcPgmWidth", 0x10203, 502, 2, 0x0203},
      {"USBInfor", "VenderCmdMode", 65537, 504, 2, 1},
  };
  for (const Case& c : cases) {
    const BootInfo record = Build(Config(c.section, {{c.key, c.value}}));
    EXPECT_EQ(GetField(record.data(), c.offset, c.width), c.stored) << c.key;
  }
}

TEST_F(BootInfoTest, ImageLengthIsRoundedToSectorsAndCoveredByTheCrc) {
  for (const auto& [length, rounded] :
       {std::pair{0u, 0u}, {1u, 512u}, {1000u, 1024u}, {1024u, 1024u}, {100000u, 100352u}}) {
    std::vector<uint8_t> image(rounded, 0);
    std::fill(image.begin(), image.begin() + length, 0x5A);
    const BootInfo record = Build(BoardConfig{}, length);
    EXPECT_EQ(ImageLen(record), rounded) << length;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kImageCrc), ZlibComplement(image.data(), rounded))
        << length;
  }
}

// The copy count keeps its low 8 bits and is then limited to the 8 positions
// the record holds (with a log line); positions are computed only when the
// first is not given.
TEST_F(BootInfoTest, CopyCountAndPositions) {
  struct Case {
    uint32_t length;
    std::vector<std::pair<std::string, uint32_t>> store;
    std::vector<uint32_t> positions;
    uint32_t count;
    std::string log;
  } const cases[] = {
      {100000, {{"imageStoreNum", 3}}, {16, 212, 408, 0, 0, 0, 0, 0}, 3, ""},
      {100000,
       {{"imageStoreNum", 3}, {"imageStoreCoreAddr[0]", 20}},
       {20, 0, 0, 0, 0, 0, 0, 0},
       3,
       ""},
      {1000,
       {{"imageStoreNum", 2}, {"imageStoreCoreAddr[1]", 5}, {"imageStoreCoreAddr[5]", 77}},
       {16, 18, 0, 0, 0, 77, 0, 0},
       2,
       ""},
      {0, {{"imageStoreNum", 2}}, {16, 16, 0, 0, 0, 0, 0, 0}, 2, ""},
      {512, {{"imageStoreNum", 260}}, {16, 17, 18, 19, 0, 0, 0, 0}, 4, ""},
      {512,
       {{"imageStoreNum", 9}},
       {16, 17, 18, 19, 20, 21, 22, 23},
       8,
       "BuildBootInfo: imageStoreNum 9 limited to 8\n"},
      {512,
       {{"imageStoreNum", 0xFF}},
       {16, 17, 18, 19, 20, 21, 22, 23},
       8,
       "BuildBootInfo: imageStoreNum 255 limited to 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.store.front().second);
    LogCapture log;
    const BootInfo record = Build(Config("imageStoreInfor", c.store), c.length);
    std::vector<uint32_t> positions;
    for (unsigned i = 0; i < kMaxImageStore; ++i)
      positions.push_back(ImageStoreCoreAddr(record, i));
    EXPECT_EQ(positions, c.positions);
    EXPECT_EQ(ImageStoreNum(record), c.count);
    EXPECT_EQ(log.Text(), c.log);
    EXPECT_EQ(GetU32(record.data(), 68), 0u) << "ddramSize overwritten";
  }
}

TEST_F(BootInfoTest, OnlyModeOneReadsTheCardAddresses) {
  BoardConfig config =
      Config("AddrInfo",
             {{"loadPlainTextAddr", 0x1111}, {"loadCipherTextAddr", 0x2222}, {"goAddr", 0x3333}});
  config.Set("DfuAddrInfo", "loadPlainTextAddr", 0xD111);
  config.Set("DfuAddrInfo", "loadCipherTextAddr", 0xE222);
  config.Set("DfuAddrInfo", "goAddr", 0xF333);
  for (const auto& [mode, base] :
       {std::pair{1, 0x1111u}, {0, 0xD111u}, {2, 0xD111u}, {-1, 0xD111u}}) {
    const BootInfo record = Build(config, 1000, mode);
    EXPECT_EQ(GetU32(record.data(), bootinfo::kLoadPlainTextAddr), base) << mode;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kLoadCipherTextAddr), base + 0x1111) << mode;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kGoAddr), base + 0x2222) << mode;
  }
}

// 1000 zero bytes and an empty configuration: the exact record.
TEST_F(BootInfoTest, EmptyConfigurationGivesTheBareRecord) {
  std::vector<uint8_t> image(1000 + 512, 0);
  BootInfo record;
  record.fill(0xEE);
  BuildBootInfo(record, m_crc, BoardConfig{}, 1000, image.data(), 1);
  BootInfo expected{};
  const uint8_t head[] = {0x4B, 0x44, 0x46, 0x55, 0x55, 0x46, 0x44, 0x4B, 0, 0, 0, 0,
                          0,    0,    0,    0,    0,    0,    0,    0,    0, 4, 0, 0};
  std::copy(std::begin(head), std::end(head), expected.begin());
  PutU32(expected.data(), 24, ZlibComplement(image.data(), 1024));
  PutU32(expected.data(), 508, ZlibComplement(expected.data(), 508));
  EXPECT_EQ(record, expected);
}

}  // namespace
}  // namespace tarnwick
