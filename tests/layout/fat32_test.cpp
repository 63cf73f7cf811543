#include "layout/fat32.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/le.h"
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

  // What each write holds is checked on whole burned cards; here the boot
  // sector copies, and the label that never reaches the boot sector.
  const std::vector<uint8_t> dbr(fat.m_tDBR.begin(), fat.m_tDBR.end());
  EXPECT_EQ(w.writes[0].head, dbr);
  EXPECT_EQ(w.writes[3].head, dbr);
  for (size_t i : {2, 5, 6, 10}) EXPECT_TRUE(w.writes[i].allZero) << "write " << i;
  EXPECT_EQ(std::string(w.writes[9].head.begin(), w.writes[9].head.begin() + 11), "DATA       ");
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
