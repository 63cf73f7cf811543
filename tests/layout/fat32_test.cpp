#include "layout/fat32.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/le.h"
#include "layout/bootcode/bootcode.h"
#include "layout_fixture.h"

namespace tarnwick {
namespace {

using testing::RecordingWriter;

// An MBR whose first entry is a FAT32 partition of total sectors at first.
SectorBytes MbrWithFat32(uint32_t first, uint32_t total) {
  SectorBytes mbr = MbrTemplate();
  PutU32(mbr.data(), 446 + 8, first);
  PutU32(mbr.data(), 446 + 12, total);
  return mbr;
}

Fat32Layout Prepared(uint32_t total) {
  Fat32Layout fat;
  EXPECT_TRUE(PrepareFat32(fat, MbrWithFat32(63, total)));
  return fat;
}

const std::array<char, 11> kDataLabel = {'D', 'A', 'T', 'A', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

TEST(Fat32BootSector, TemplateHoldsTheFixedParameterBlock) {
  const SectorBytes s = Fat32BootSectorTemplate();
  const std::vector<uint8_t> expected = {
      0xEB, 0x58, 0x90, 'M',  'S',  'D',  'O',  'S',  '5', '.', '0',  // jump, OEM name
      0x00, 0x02, 0x08, 0x22, 0x00, 0x02,              // 512 B, 8 per cluster, 34, 2 FATs
      0x00, 0x00, 0x00, 0x00, 0xF8, 0x00, 0x00,        // root entries, total16, media, FAT16
      0x3F, 0x00, 0xFF, 0x00, 0x3F, 0x00, 0x00, 0x00,  // 63 per track, 255 heads, 63 hidden
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // per-card total and FAT size
      0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // flags, version, root cluster 2
      0x01, 0x00, 0x06, 0x00, 0,    0,    0,    0,    0,   0,   0,
      0,    0,    0,    0,    0,                 // FSInfo 1, backup 6, reserved
      0x00, 0x00, 0x29, 0x14, 0x09, 0xB1, 0xF4,  // drive, signature, serial
      'N',  'O',  ' ',  'N',  'A',  'M',  'E',  ' ',  ' ', ' ', ' ',  // label field
      'F',  'A',  'T',  '3',  '2',  ' ',  ' ',  ' '};
  ASSERT_EQ(expected.size(), 90u);
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 90), expected);
  EXPECT_TRUE(std::equal(s.begin() + 90, s.begin() + 510, kFat32BootCode));
  EXPECT_EQ(s[510], 0x55);
  EXPECT_EQ(s[511], 0xAA);
}

TEST(PrepareFat32, WorkedExampleGeometry) {
  const Fat32Layout fat = Prepared(5'776'922);
  EXPECT_EQ(GetU32(fat.m_tDBR.data(), 32), 5'776'922u);
  EXPECT_EQ(GetU32(fat.m_tDBR.data(), 36), 5'631u);
  EXPECT_EQ(fat.m_nDBRSector, 63u);
  EXPECT_EQ(fat.m_nFirstFATSector, 97u);
  EXPECT_EQ(fat.m_nSecondFATSector, 5'728u);
  EXPECT_EQ(fat.m_nFirstDirSector, 11'359u);
  EXPECT_EQ((5'776'922u - 34 - 2 * 5'631) / 8, 720'703u);
}

struct FatSizeCase {
  uint32_t total;
  uint32_t fatSize;
};

void PrintTo(const FatSizeCase& c, std::ostream* os) {
  *os << c.total << " sectors";
}

class FatSize : public ::testing::TestWithParam<FatSizeCase> {};

TEST_P(FatSize, IsOnePerThousandTwentySixSectorsPlusOne) {
  const Fat32Layout fat = Prepared(GetParam().total);
  const uint32_t fatSize = GetU32(fat.m_tDBR.data(), 36);
  EXPECT_EQ(fatSize, GetParam().fatSize);
  // Each FAT has an entry for every cluster of the partition, and the two reserved ones.
  const uint32_t clusters = (GetParam().total - 34 - 2 * fatSize) / 8;
  EXPECT_GE(uint64_t{fatSize} * 128, uint64_t{clusters} + 2);
}

INSTANTIATE_TEST_SUITE_P(Layout, FatSize,
                         ::testing::Values(FatSizeCase{1'025, 1}, FatSizeCase{1'026, 2},
                                           FatSizeCase{2'051, 2}, FatSizeCase{2'052, 3},
                                           FatSizeCase{533'602, 521}, FatSizeCase{5'776'922, 5'631},
                                           FatSizeCase{0xFFFFFF00u, 4'186'128}));

TEST(PrepareFat32, TwoCardsDifferOnlyInTotalAndFatSize) {
  const Fat32Layout a = Prepared(5'776'922);
  const Fat32Layout b = Prepared(29'000'000);
  for (size_t i = 0; i < 512; ++i) {
    if (i >= 32 && i < 40) continue;
    EXPECT_EQ(a.m_tDBR[i], b.m_tDBR[i]) << "byte " << i;
  }
  EXPECT_NE(GetU32(b.m_tDBR.data(), 32), GetU32(a.m_tDBR.data(), 32));
  EXPECT_NE(GetU32(b.m_tDBR.data(), 36), GetU32(a.m_tDBR.data(), 36));
}

TEST(FormatFat32, WritesEveryStructureInOrder) {
  const Fat32Layout fat = Prepared(5'776'922);
  RecordingWriter w;
  ASSERT_TRUE(FormatFat32(fat, kDataLabel, w));

  struct Expected {
    SectorNo first;
    uint32_t count;
  };
  const std::vector<Expected> order = {
      {63, 1},      {64, 1},    {65, 1},
      {69, 1},      {70, 1},    {71, 1},      // boot sectors and FSInfo twice
      {98, 11'262},                           // both FATs and the root directory
      {97, 1},      {5'728, 1}, {11'359, 1},  // FAT heads, root directory
      {11'360, 8}};                           // rest of clusters 2 and 3
  ASSERT_EQ(w.writes.size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(w.writes[i].first, order[i].first) << "write " << i;
    EXPECT_EQ(w.writes[i].count, order[i].count) << "write " << i;
  }

  const std::vector<uint8_t> dbr(fat.m_tDBR.begin(), fat.m_tDBR.end());
  EXPECT_EQ(w.writes[0].head, dbr);
  EXPECT_EQ(w.writes[3].head, dbr);

  std::vector<uint8_t> fsInfo(512, 0);
  fsInfo[0] = 'R', fsInfo[1] = 'R', fsInfo[2] = 'a', fsInfo[3] = 'A';
  EXPECT_EQ(w.writes[1].head, fsInfo);
  EXPECT_EQ(w.writes[4].head, fsInfo);

  for (size_t i : {2, 5, 6, 10}) EXPECT_TRUE(w.writes[i].allZero) << "write " << i;

  std::vector<uint8_t> fatHead(512, 0);
  const std::vector<uint8_t> entries = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                                        0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  std::copy(entries.begin(), entries.end(), fatHead.begin());
  EXPECT_EQ(w.writes[7].head, fatHead);
  EXPECT_EQ(w.writes[8].head, fatHead);

  std::vector<uint8_t> dir(512, 0);
  const std::string name = "DATA       ";
  std::copy(name.begin(), name.end(), dir.begin());
  dir[11] = 0x08;
  dir[22] = 0x41, dir[23] = 0x5A;  // 11:18:02
  dir[24] = 0x95, dir[25] = 0x3E;  // 21 April 2011
  EXPECT_EQ(w.writes[9].head, dir);
  // The operator's label never reaches the boot sector.
  EXPECT_EQ(std::string(fat.m_tDBR.begin() + 71, fat.m_tDBR.begin() + 82), "NO NAME    ");
}

TEST(FormatFat32, NoLabelStillWritesAnElevenSpaceLabelEntry) {
  const Fat32Layout fat = Prepared(5'776'922);
  RecordingWriter w;
  std::array<char, 11> blank;
  blank.fill(' ');
  ASSERT_TRUE(FormatFat32(fat, blank, w));
  ASSERT_EQ(w.writes.size(), 11u);
  const std::vector<uint8_t>& dir = w.writes[9].head;
  EXPECT_EQ(std::string(dir.begin(), dir.begin() + 11), std::string(11, ' '));
  EXPECT_EQ(dir[11], 0x08);
}

TEST(FormatFat32, LogsItsStepsWithTheSectorNumbers) {
  const Fat32Layout fat = Prepared(5'776'922);
  RecordingWriter w;
  LogCapture log;
  ASSERT_TRUE(FormatFat32(fat, kDataLabel, w));
  EXPECT_EQ(log.Text(),
            "WrtieSector: DBR: [0x3f, 1]\n"
            "WrtieSector: nFatLen: 0x2bfe\n"
            "WrtieSector: FirstFATSector: [0x61, 1]\n"
            "WrtieSector: SecondFATSector: [0x1660, 1]\n"
            "WrtieSector: FirstDirSector: [0x2c5f, 1]\n");
}

class FormatFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(FormatFailure, AnyFailedWriteFailsTheFormatButEveryStepRuns) {
  const Fat32Layout fat = Prepared(5'776'922);
  RecordingWriter w;
  w.failAt = {GetParam()};
  EXPECT_FALSE(FormatFat32(fat, kDataLabel, w));
  EXPECT_EQ(w.writes.size(), 11u);
  EXPECT_EQ(w.writes.back().first, 11'360u);
}

INSTANTIATE_TEST_SUITE_P(Layout, FormatFailure, ::testing::Range<size_t>(0, 11));

// A partition of about 95 GiB: its FATs take 389,864 sectors, about 190 MiB.
constexpr uint32_t kLargeTotal = 200'000'000;

TEST(FormatFat32, LargeFatsAreClearedInPiecesOfAtMost32MiB) {
  const Fat32Layout fat = Prepared(kLargeTotal);
  const uint32_t fatLen = fat.m_nFirstDirSector - fat.m_nFirstFATSector;
  ASSERT_EQ(fatLen, 389'864u);
  RecordingWriter w;
  LogCapture log;
  ASSERT_TRUE(FormatFat32(fat, kDataLabel, w));
  EXPECT_NE(log.Text().find("WrtieSector: nFatLen: 0x5f2e8\n"), std::string::npos);

  // Writes 6.. up to the first FAT head are the clearing pieces.
  SectorNo next = fat.m_nFirstFATSector + 1;
  uint64_t cleared = 0;
  size_t i = 6;
  for (; w.writes[i].first != fat.m_nFirstFATSector; ++i) {
    EXPECT_EQ(w.writes[i].first, next);
    EXPECT_LE(w.writes[i].count, 0x10000u);
    EXPECT_TRUE(w.writes[i].allZero);
    next += w.writes[i].count;
    cleared += w.writes[i].count;
  }
  EXPECT_EQ(cleared, fatLen);
  EXPECT_EQ(i - 6, 6u);  // five full pieces and the rest
}

TEST(FormatFat32, FailedClearingPieceStopsTheClearingOnly) {
  const Fat32Layout fat = Prepared(kLargeTotal);
  RecordingWriter w;
  w.failAt = {7};  // the second clearing piece
  EXPECT_FALSE(FormatFat32(fat, kDataLabel, w));
  // Two pieces tried, then the FAT heads, the root directory and its tail.
  ASSERT_EQ(w.writes.size(), 6u + 2u + 4u);
  EXPECT_EQ(w.writes[8].first, fat.m_nFirstFATSector);
  EXPECT_EQ(w.writes[11].first, fat.m_nFirstDirSector + 1);
}

}  // namespace
}  // namespace tarnwick
