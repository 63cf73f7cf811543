#include <gtest/gtest.h>
#include <zlib.h>

#include <map>

#include "bootcfg/boot_info.h"
#include "bootcfg/config_fields.h"
#include "bootcfg_fixture.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::GetField;
using testing::IniText;
using testing::KeyValue;
using testing::LowBits;

class UBootInfoTest : public ::testing::Test {
 protected:
  UBootInfo Read(const std::string& ini) {
    testing::WriteFile(m_cfg, ini);
    UBootInfo record;
    record.fill(0xEE);  // an earlier card's tables
    EXPECT_TRUE(ReadDdrClkTables(record, m_cfg));
    return record;
  }

  testing::TempDir m_dir;
  std::string m_cfg = m_dir.File("board.ini");
  CCrc32 m_crc;
};

TEST_F(UBootInfoTest, EveryTableKeyLandsAtItsFieldTruncatedToItsWidth) {
  std::vector<KeyValue> entries;
  std::map<size_t, std::pair<unsigned, uint32_t>> expected;  // offset -> width, value
  size_t n = 0;
  for (const ConfigSection& section : DdrClkSections()) {
    for (const ConfigField& field : section.fields) {
      const uint32_t value = testing::DistinctValue(n % 250) + static_cast<uint32_t>(n / 250);
      entries.push_back({section.name, field.key, testing::Notation(n, value)});
      expected[field.offset] = {field.width, LowBits(value, field.width)};
      ++n;
    }
  }
  const UBootInfo record = Read(IniText(entries));

  std::vector<int> covered(kUBootInfoSize, 0);
  for (const auto& [offset, wv] : expected) {
    EXPECT_EQ(GetField(record.data(), offset, wv.first), wv.second) << "offset " << offset;
    for (unsigned b = 0; b < wv.first; ++b) ++covered[offset + b];
  }
  // The tables fill bytes 56 to 1735 exactly; the header and CRC are not read.
  for (size_t b = 0; b < kUBootInfoSize; ++b)
    EXPECT_EQ(covered[b], b >= ubootinfo::kDdrInfo && b < ubootinfo::kUBootInfoCrc ? 1 : 0)
        << "byte " << b;
  EXPECT_EQ(record[0], 0xEE);
  EXPECT_EQ(record[ubootinfo::kUBootInfoCrc], 0xEE);
}

// Offsets and widths as the board reads them, independent of the field lists.
TEST_F(UBootInfoTest, KnownTableFieldsAtTheirOffsets) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    size_t offset;
    unsigned width;
    uint32_t stored;
  };
  const Case cases[] = {
      {"DDRInfo0", "cpuClk", "800000000", 56, 4, 800000000},
      {"DDRInfo0", "ddramSize", "0x20000000", 68, 4, 0x20000000},
      {"DDRInfo1", "busClk", "0x1234", 404, 4, 0x1234},
      {"DDRInfo2", "ddramSize", "0x8000000", 756, 4, 0x8000000},
      {"DDRInfo2", "ddrcRegAddr[1]", "0xAB", 744 + 20, 4, 0xAB},
      {"DDRInfo2", "ddrcRegVal[38]", "0xCD", 744 + 324, 4, 0xCD},
      {"DDRInfo3", "ddrcRegConfNum", "0x127", 1088 + 336, 1, 0x27},
      {"DDRInfo3", "ddrcDllOffModeBypass", "2", 1431, 1, 2},
      {"CLKInfo0", "clkBypassCtrl", "5", 1432, 4, 5},
      {"CLKInfo1", "cpuPllCfg", "0x5566", 1508 + 8, 4, 0x5566},
      {"CLKInfo2", "storPllCfg", "4096", 1584 + 32, 4, 4096},
      {"CLKInfo3", "clkConfDelay", "0xFFFFFFFF", 1732, 4, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    const UBootInfo record = Read(IniText({{c.section, c.key, c.value}}));
    EXPECT_EQ(GetField(record.data(), c.offset, c.width), c.stored) << c.section << " " << c.key;
  }
}

TEST_F(UBootInfoTest, UnconfiguredTablesAreZeroAndSectionFourIsNeverRead) {
  const UBootInfo record = Read(
      "[DDRInfo0]\nddrClk=400\nddrcRegAddr[39]=1\nddrcRegVal[39]=2\n"
      "[DDRInfo4]\ncpuClk=1\nddramSize=2\n[CLKInfo4]\nclkBypassCtrl=3\n");
  for (size_t b = ubootinfo::kDdrInfo; b < ubootinfo::kUBootInfoCrc; ++b)
    EXPECT_EQ(record[b], b == 64 ? 0x90 : b == 65 ? 0x01 : 0) << "byte " << b;  // ddrClk = 400
}

TEST_F(UBootInfoTest, HeaderPositionsFollowTheBootPartition) {
  struct Case {
    uint32_t p, resSize, imgSize;
    uint32_t envStart, resStart, imgStart;
  };
  const Case cases[] = {
      {7677784, 300000, 4096, 7685976, 7688028, 7688617},
      {100, 0, 0, 8292, 10344, 10348},
      {100, 1000, 1, 8292, 10344, 10349},
      {100, 512, 7, 8292, 10344, 10349},
  };
  for (const Case& c : cases) {
    UBootInfo record = Read("[CLKInfo3]\nclkConfDelay=0x77\n");
    FillUBootInfoHeader(record, m_crc, c.p, c.resSize, c.imgSize);
    const uint8_t* r = record.data();
    EXPECT_EQ(GetU32(r, ubootinfo::kBootEnvStart), c.envStart);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootEnvSize), 0x100000u);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootResStart), c.resStart);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootResSize), c.resSize);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootResFlag), 1u);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootImgStart), c.imgStart) << c.p << " " << c.resSize;
    EXPECT_EQ(GetU32(r, ubootinfo::kBootImgSize), c.imgSize);
    EXPECT_EQ(GetU32(r, ubootinfo::kBootImgFlag), 1u);
    for (size_t reserved : {12, 16, 20, 36, 40, 44}) EXPECT_EQ(GetU32(r, reserved), 0u);
    EXPECT_EQ(GetU32(r, 1732), 0x77u) << "tables kept";
    EXPECT_EQ(GetU32(r, ubootinfo::kUBootInfoCrc),
              ~static_cast<uint32_t>(crc32(0L, r, ubootinfo::kUBootInfoCrc)));
  }
}

TEST_F(UBootInfoTest, CrcCoversTheTables) {
  UBootInfo a = Read("[DDRInfo2]\nddramSize=1\n");
  UBootInfo b = Read("[DDRInfo2]\nddramSize=2\n");
  FillUBootInfoHeader(a, m_crc, 100, 0, 0);
  FillUBootInfoHeader(b, m_crc, 100, 0, 0);
  EXPECT_NE(GetU32(a.data(), ubootinfo::kUBootInfoCrc), GetU32(b.data(), ubootinfo::kUBootInfoCrc));
}

}  // namespace
}  // namespace tarnwick
