#include <gtest/gtest.h>

#include "bootcfg/boot_info.h"
#include "bootcfg_fixture.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::GetField;

class UBootInfoTest : public ::testing::Test {
 protected:
  UBootInfo Read(const BoardConfig& config) {
    UBootInfo record;
    record.fill(0xEE);  // an earlier card's tables
    EXPECT_TRUE(ReadDdrClkTables(record, config));
    return record;
  }

  static BoardConfig Config(const std::string& section, const std::string& key, uint32_t value) {
    BoardConfig config;
    config.Set(section, key, value);
    return config;
  }

  CCrc32 m_crc;
};

// Each value's low bits land at its field; the tables fill bytes 56 to 1735
// exactly.
TEST_F(UBootInfoTest, EveryTableKeyLandsAtItsFieldTruncatedToItsWidth) {
  const testing::AllKeys all = testing::AllKeysIni(DdrClkSections());
  const UBootInfo record = Read(all.config);
  std::vector<int> covered(kUBootInfoSize, 0);
  for (const testing::ExpectedField& f : all.expected) {
    EXPECT_EQ(GetField(record.data(), f.offset, f.width), f.value) << "offset " << f.offset;
    for (unsigned b = 0; b < f.width; ++b) ++covered[f.offset + b];
  }
  for (size_t b = 0; b < kUBootInfoSize; ++b)
    EXPECT_EQ(covered[b], b >= ubootinfo::kDdrInfo && b < ubootinfo::kUBootInfoCrc) << b;
}

// Offsets as the board reads them, independent of the field lists; with a
// single table section every other table byte is zero.
TEST_F(UBootInfoTest, KnownTableFieldsAtTheirOffsets) {
  struct Case {
    const char *section, *key;
    uint32_t value;
    size_t offset;
    unsigned width;
    uint32_t stored;
  } const cases[] = {
      {"DDRInfo0", "cpuClk", 800000000, 56, 4, 800000000},
      {"DDRInfo2", "ddramSize", 0x8000000, 756, 4, 0x8000000},
      {"DDRInfo2", "ddrcRegVal[38]", 0xCD, 744 + 324, 4, 0xCD},
      {"DDRInfo3", "ddrcRegConfNum", 0x127, 1088 + 336, 1, 0x27},
      {"DDRInfo3", "ddrcDllOffModeBypass", 2, 1431, 1, 2},
      {"CLKInfo0", "clkBypassCtrl", 5, 1432, 4, 5},
      {"CLKInfo2", "storPllCfg", 4096, 1584 + 32, 4, 4096},
      {"CLKInfo3", "clkConfDelay", 0xFFFFFFFF, 1732, 4, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    UBootInfo record = Read(Config(c.section, c.key, c.value));
    EXPECT_EQ(GetField(record.data(), c.offset, c.width), c.stored) << c.section << c.key;
    PutField(record.data(), c.offset, c.width, 0);
    for (size_t b = ubootinfo::kDdrInfo; b < ubootinfo::kUBootInfoCrc; ++b)
      ASSERT_EQ(record[b], 0) << c.section << c.key << " byte " << b;
  }
}

TEST_F(UBootInfoTest, HeaderPositionsFollowTheBootPartition) {
  struct Case {
    uint32_t p, resSize, imgSize, envStart, resStart, imgStart;
  } const cases[] = {
      {7677784, 300000, 4096, 7685976, 7688028, 7688617},
      {100, 0, 0, 8292, 10344, 10348},
      {100, 1000, 1, 8292, 10344, 10349},
      {100, 512, 7, 8292, 10344, 10349},
  };
  for (const Case& c : cases) {
    UBootInfo record = Read(Config("CLKInfo3", "clkConfDelay", 0x77));
    FillUBootInfoHeader(record, m_crc, c.p, c.resSize, c.imgSize);
    const uint32_t expected[] = {c.envStart, 0x100000,   c.resStart, 0, 0, 0,         c.resSize,
                                 1,          c.imgStart, 0,          0, 0, c.imgSize, 1};
    for (size_t word = 0; word < std::size(expected); ++word)
      EXPECT_EQ(GetU32(record.data(), 4 * word), expected[word]) << c.p << " word " << word;
    EXPECT_EQ(GetU32(record.data(), 1732), 0x77u) << "tables kept";
    EXPECT_EQ(GetU32(record.data(), ubootinfo::kUBootInfoCrc),
              testing::ZlibComplement(record.data(), ubootinfo::kUBootInfoCrc));
  }
}

}  // namespace
}  // namespace tarnwick
