#include "bootcfg/boot_info.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <optional>

#include "bootcfg/config_fields.h"
#include "bootcfg_fixture.h"
#include "common/debug_log.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::GetField;
using testing::IniText;
using testing::KeyValue;
using testing::LowBits;

uint32_t ZlibComplement(const uint8_t* bytes, size_t length) {
  return ~static_cast<uint32_t>(crc32(0L, bytes, static_cast<uInt>(length)));
}

class BootInfoTest : public ::testing::Test {
 protected:
  // Builds the record for an image of `length` bytes (a buffer of length +
  // 512 bytes, zero after the image) from a configuration file holding `ini`.
  BootInfo Build(const std::string& ini, uint32_t length = 1000, int mode = 1,
                 uint8_t fill = 0x5A) {
    testing::WriteFile(m_cfg, ini);
    std::vector<uint8_t> image(length + 512, 0);
    std::fill(image.begin(), image.begin() + length, fill);
    BootInfo record;
    record.fill(0xEE);  // whatever an earlier build left
    BuildBootInfo(record, m_crc, m_cfg, length, image.data(), mode);
    return record;
  }

  std::vector<uint32_t> Positions(const BootInfo& record) {
    std::vector<uint32_t> positions;
    for (unsigned i = 0; i < kMaxImageStore; ++i)
      positions.push_back(ImageStoreCoreAddr(record, i));
    return positions;
  }

  testing::TempDir m_dir;
  std::string m_cfg = m_dir.File("board.ini");
  CCrc32 m_crc;
};

// A file setting every key of every section to its own value, wider than the
// narrow fields, lands each value's low bits at its field; nothing else
// changes but the computed fields, and the reserved bytes stay zero.
TEST_F(BootInfoTest, EveryKeyLandsAtItsFieldTruncatedToItsWidth) {
  std::vector<KeyValue> entries;
  std::map<size_t, std::pair<unsigned, uint32_t>> expected;  // offset -> width, value
  size_t n = 0;
  for (const ConfigSection& section : BootInfoSections(1)) {
    for (const ConfigField& field : section.fields) {
      uint32_t value = testing::DistinctValue(n);
      if (field.key == "imageStoreNum") value = 0x305;  // low byte 5: within the 8 copies
      entries.push_back({section.name, field.key, testing::Notation(n, value)});
      expected[field.offset] = {field.width, LowBits(value, field.width)};
      ++n;
    }
  }
  const BootInfo record = Build(IniText(entries));

  std::vector<int> covered(kBootInfoSize, 0);
  for (const auto& [offset, wv] : expected) {
    EXPECT_EQ(GetField(record.data(), offset, wv.first), wv.second) << "offset " << offset;
    for (unsigned b = 0; b < wv.first; ++b) ++covered[offset + b];
  }
  // Magic, imageLen, imageCrc, infoCrc and the reserved bytes make up the rest.
  for (size_t b : {0, 1, 2, 3, 4, 5, 6, 7, 20, 21, 22, 23, 24, 25, 26, 27, 508, 509, 510, 511})
    ++covered[b];
  for (size_t reserved : {31, 65, 66, 67, 506, 507}) {
    EXPECT_EQ(record[reserved], 0) << "reserved byte " << reserved;
    ++covered[reserved];
  }
  for (size_t b = 0; b < kBootInfoSize; ++b) EXPECT_EQ(covered[b], 1) << "byte " << b;
  EXPECT_EQ(GetU32(record.data(), bootinfo::kInfoCrc), ZlibComplement(record.data(), 508));
}

// Offsets and widths as the board reads them, independent of the field lists.
TEST_F(BootInfoTest, KnownFieldsAtTheirOffsets) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    size_t offset;
    unsigned width;
    uint32_t stored;
  };
  const Case cases[] = {
      {"AddrInfo", "loadPlainTextAddr", "0x80008000", 8, 4, 0x80008000},
      {"AddrInfo", "goAddr", "0x12345678", 16, 4, 0x12345678},
      {"ImageInfo", "imageEncrypt", "257", 28, 1, 1},
      {"ImageInfo", "imageDcacheEn", "3", 30, 1, 3},
      {"imageStoreInfor", "imageStoreCoreAddr[7]", "99", 60, 4, 99},
      {"DDRCinfor", "ddramSize", "0x10000000", 68, 4, 0x10000000},
      {"DDRCinfor", "ddrcRegAddr[0]", "0x20000010", 72, 4, 0x20000010},
      {"DDRCinfor", "ddrcRegVal[0]", "0x11", 228, 4, 0x11},
      {"DDRCinfor", "ddrcRegVal[38]", "0x22", 380, 4, 0x22},
      {"DDRCinfor", "ddrcRegConfNum", "300", 392, 1, 44},
      {"DDRCinfor", "ddrcDllOffModeBypass", "7", 399, 1, 7},
      {"NandflashInfor", "nandPageSize", "70000", 404, 2, 4464},
      {"NandflashInfor", "nandReconfigBypass", "9", 419, 1, 9},
      {"SDIOInfor", "sdInternalDiv", "0x12345", 420, 2, 0x2345},
      {"SDIOInfor", "sdReconfigBypass", "6", 423, 1, 6},
      {"CLKRSTInfor", "clkBypassCtrl", "0xAABBCCDD", 424, 4, 0xAABBCCDD},
      {"CLKRSTInfor", "clkConfDelay", "4000", 496, 4, 4000},
      {"EFUSEInfor", "efcPsReadWidth", "0x1FF", 500, 1, 0xFF},
      {"EFUSEInfor", "efcPgmWidth", "0x10203", 502, 2, 0x0203},
      {"USBInfor", "VenderCmdMode", "65537", 504, 2, 1},
  };
  for (const Case& c : cases) {
    const BootInfo record = Build(IniText({{c.section, c.key, c.value}}));
    EXPECT_EQ(GetField(record.data(), c.offset, c.width), c.stored) << c.section << " " << c.key;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kInfoCrc), ZlibComplement(record.data(), 508));
  }
}

TEST_F(BootInfoTest, RegisterPairsFrom39OnAreNeverRead) {
  const std::string base = "[DDRCinfor]\nddrcRegAddr[38]=0x38\nddrcRegVal[38]=0x83\n";
  const BootInfo without = Build(base);
  const BootInfo with = Build(base +
                              "ddrcRegAddr[39]=0x39\nddrcRegVal[39]=0x93\n"
                              "ddrcRegAddr[40]=1\nddrcRegConfNum=60\n");
  BootInfo expected = without;
  expected[392] = 60;
  PutU32(expected.data(), bootinfo::kInfoCrc, ZlibComplement(expected.data(), 508));
  EXPECT_EQ(with, expected);
}

TEST_F(BootInfoTest, ImageLengthIsRoundedToSectorsAndCoveredByTheCrc) {
  struct Case {
    uint32_t length;
    uint32_t rounded;
  };
  for (const Case c :
       {Case{0, 0}, Case{1, 512}, Case{1000, 1024}, Case{1024, 1024}, Case{100000, 100352}}) {
    const BootInfo record = Build("", c.length, 1, 0xA7);
    std::vector<uint8_t> image(c.rounded, 0);
    std::fill(image.begin(), image.begin() + c.length, 0xA7);
    EXPECT_EQ(ImageLen(record), c.rounded) << c.length;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kImageCrc), ZlibComplement(image.data(), c.rounded))
        << c.length;
  }
  EXPECT_EQ(GetU32(Build("", 0).data(), bootinfo::kImageCrc), 0xFFFFFFFFu);
}

TEST_F(BootInfoTest, CopyPositions) {
  struct Case {
    const char* name;
    uint32_t length;
    std::string store;  // the "imageStoreInfor" keys
    std::vector<uint32_t> positions;
    uint32_t storeNum;
  };
  const Case cases[] = {
      {"computed back to back", 100000, "imageStoreNum=3\n", {16, 212, 408, 0, 0, 0, 0, 0}, 3},
      {"explicit first position kept",
       100000,
       "imageStoreNum=3\nimageStoreCoreAddr[0]=20\n",
       {20, 0, 0, 0, 0, 0, 0, 0},
       3},
      {"entries past the count keep the file's values",
       1000,
       "imageStoreNum=2\nimageStoreCoreAddr[1]=5\nimageStoreCoreAddr[5]=77\n",
       {16, 18, 0, 0, 0, 77, 0, 0},
       2},
      {"eight copies", 512, "imageStoreNum=8\n", {16, 17, 18, 19, 20, 21, 22, 23}, 8},
      {"no copies", 1000, "imageStoreNum=0\n", {0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"empty image: all copies at 16", 0, "imageStoreNum=2\n", {16, 16, 0, 0, 0, 0, 0, 0}, 2},
  };
  for (const Case& c : cases) {
    const BootInfo record = Build("[imageStoreInfor]\n" + c.store, c.length);
    EXPECT_EQ(Positions(record), c.positions) << c.name;
    EXPECT_EQ(ImageStoreNum(record), c.storeNum) << c.name;
  }
}

// The count keeps its low 8 bits; a count still above the eight positions
// the record holds is limited to 8, with a log line, so nothing reads or
// writes past them.
TEST_F(BootInfoTest, CopyCountIsLimitedToTheEightPositions) {
  struct Case {
    const char* value;
    uint32_t stored;
    std::string log;
  };
  const Case cases[] = {
      {"260", 4, ""},
      {"8", 8, ""},
      {"9", 8, "BuildBootInfo: imageStoreNum 9 limited to 8\n"},
      {"265", 8, "BuildBootInfo: imageStoreNum 9 limited to 8\n"},
      {"0xFF", 8, "BuildBootInfo: imageStoreNum 255 limited to 8\n"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    const BootInfo record =
        Build(std::string("[imageStoreInfor]\nimageStoreNum=") + c.value + "\n[DDRCinfor]\n", 512);
    EXPECT_EQ(ImageStoreNum(record), c.stored) << c.value;
    EXPECT_EQ(log.Text(), c.log) << c.value;
    EXPECT_EQ(ImageStoreCoreAddr(record, c.stored - 1), 16 + c.stored - 1) << c.value;
    EXPECT_EQ(GetU32(record.data(), 68), 0u) << "ddramSize overwritten for " << c.value;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kInfoCrc), ZlibComplement(record.data(), 508));
  }
}

TEST_F(BootInfoTest, OnlyModeOneReadsTheCardAddresses) {
  const std::string ini =
      "[AddrInfo]\nloadPlainTextAddr=0x1111\nloadCipherTextAddr=0x2222\ngoAddr=0x3333\n"
      "[DfuAddrInfo]\nloadPlainTextAddr=0xD111\nloadCipherTextAddr=0xD222\ngoAddr=0xD333\n";
  struct Case {
    int mode;
    uint32_t plain, cipher, go;
  };
  for (const Case c : {Case{1, 0x1111, 0x2222, 0x3333}, Case{0, 0xD111, 0xD222, 0xD333},
                       Case{2, 0xD111, 0xD222, 0xD333}, Case{-1, 0xD111, 0xD222, 0xD333}}) {
    const BootInfo record = Build(ini, 1000, c.mode);
    EXPECT_EQ(GetU32(record.data(), bootinfo::kLoadPlainTextAddr), c.plain) << c.mode;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kLoadCipherTextAddr), c.cipher) << c.mode;
    EXPECT_EQ(GetU32(record.data(), bootinfo::kGoAddr), c.go) << c.mode;
  }
}

// 1000 zero bytes and no configuration file: the exact record.
TEST_F(BootInfoTest, MissingConfigurationFileGivesTheBareRecord) {
  std::vector<uint8_t> image(1000 + 512, 0);
  BootInfo record;
  record.fill(0xEE);
  BuildBootInfo(record, m_crc, m_dir.File("no-such.ini"), 1000, image.data(), 1);

  BootInfo expected{};
  const uint8_t head[] = {0x4B, 0x44, 0x46, 0x55, 0x55, 0x46, 0x44, 0x4B, 0,    0,    0,    0,
                          0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x04, 0x00, 0x00};
  std::copy(std::begin(head), std::end(head), expected.begin());
  PutU32(expected.data(), 24, ZlibComplement(image.data(), 1024));
  PutU32(expected.data(), 508, ZlibComplement(expected.data(), 508));
  EXPECT_EQ(record, expected);
}

}  // namespace
}  // namespace tarnwick
