#include "layout/partition_plan.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "common/debug_log.h"
#include "layout_fixture.h"

namespace tarnwick {
namespace {

using testing::ComputePlan;
using testing::ExampleInput;
using testing::LabelText;
using testing::PlanInput;

// Where the Boot partition's room ends: the first sector after it.
uint64_t BootRoomEnd(const PartitionPlan& p) {
  return p.m_arrStartSector[3] + ((p.m_arrTotalSectors[3] + 7) / 8) * 8;
}

struct PlanCase {
  const char* name;
  PlanInput input;
  std::array<uint64_t, 4> starts;
  std::array<uint64_t, 4> totals;
  std::array<uint64_t, 3> logical;
  std::array<uint64_t, 3> slots;
  uint64_t unusedTail;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
  *os << c.name;
}

class PlanExamples : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanExamples, ComputesEveryPosition) {
  const PlanCase& c = GetParam();
  const PartitionPlan p = ComputePlan(c.input);
  EXPECT_EQ(p.m_arrStartSector, c.starts);
  EXPECT_EQ(p.m_arrTotalSectors, c.totals);
  EXPECT_EQ(p.m_arrEpTotalSector, c.logical);
  EXPECT_EQ(p.m_arrSlotSize, c.slots);
  EXPECT_EQ(c.input.cardSize - BootRoomEnd(p), c.unusedTail);
}

PlanInput WithRecovery(uint32_t recovery) {
  PlanInput in = ExampleInput(7'744'512);
  in.recovery = recovery;
  return in;
}

PlanInput WithSystemAndBoot(uint32_t system, uint32_t boot) {
  PlanInput in = ExampleInput(7'744'512);
  in.system = system;
  in.boot = boot;
  return in;
}

INSTANTIATE_TEST_SUITE_P(
    Layout, PlanExamples,
    ::testing::Values(
        // The FAT32 remainder 5,777,058 is not a multiple of 8: it loses 10 sectors, not 2.
        PlanCase{"TenSectorsShort",
                 ExampleInput(7'743'330),
                 {63, 5'776'985, 7'612'248, 7'677'784},
                 {5'776'922, 1'835'197, 65'536, 65'536},
                 {524'225, 1'048'513, 262'081},
                 {524'288, 1'048'576, 262'144},
                 10},
        PlanCase{"EndsOnLastSector",
                 ExampleInput(7'744'512),
                 {63, 5'778'177, 7'613'440, 7'678'976},
                 {5'778'114, 1'835'197, 65'536, 65'536},
                 {524'225, 1'048'513, 262'081},
                 {524'288, 1'048'576, 262'144},
                 0},
        // Entry totals keep the raw value; the Boot partition starts after the rounded room.
        PlanCase{"OddRecovery",
                 WithRecovery(30'001),
                 {63, 5'813'705, 7'648'968, 7'678'976},
                 {5'813'642, 1'835'197, 30'001, 65'536},
                 {524'225, 1'048'513, 262'081},
                 {524'288, 1'048'576, 262'144},
                 0},
        // Odd System and Boot sizes: the slot is rounded, the partition is the slot less 63.
        PlanCase{"OddSystemAndBoot",
                 WithSystemAndBoot(500'001, 65'537),
                 {63, 5'802'449, 7'613'432, 7'678'968},
                 {5'802'386, 1'810'917, 65'536, 65'537},
                 {499'945, 1'048'513, 262'081},
                 {500'008, 1'048'576, 262'144},
                 0}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(PartitionPlan, RoomsFollowOneAnotherAndTheTailIsZeroOrNineToFifteen) {
  // Sixteen consecutive card sizes cover every remainder modulo 8 twice.
  for (uint64_t d = 7'744'500; d < 7'744'516; ++d) {
    SCOPED_TRACE(d);
    PlanInput in = ExampleInput(d);
    in.recovery = 30'001;
    const PartitionPlan p = ComputePlan(in);
    const uint64_t e8 = p.m_arrTotalSectors[1] + 3;
    EXPECT_EQ(p.m_arrStartSector[1], 63 + p.m_arrTotalSectors[0]);
    EXPECT_EQ(p.m_arrStartSector[2], p.m_arrStartSector[1] + e8 + 63);
    EXPECT_EQ(p.m_arrStartSector[3], p.m_arrStartSector[2] + 30'008);
    EXPECT_EQ(e8 % 8, 0u);
    EXPECT_EQ(p.m_arrTotalSectors[0] % 8, 2u);  // a multiple of 8, less 126
    const uint64_t tail = d - BootRoomEnd(p);
    const uint64_t rest = d - 65'536 - 30'008 - e8;
    if (rest % 8 == 0) {
      EXPECT_EQ(tail, 0u);
    } else {
      EXPECT_EQ(tail, 8 + rest % 8);
    }
  }
}

TEST(PartitionPlan, CardBeyondTwoTebibytesKeepsSixtyFourBitPositions) {
  const uint64_t d = 0x1'2345'6780ull;
  const PartitionPlan p = ComputePlan(ExampleInput(d));
  EXPECT_EQ(p.m_arrTotalSectors[0], d - 65'536 - 65'536 - 1'835'200 - 126);
  EXPECT_EQ(BootRoomEnd(p), d);
}

TEST(PartitionPlan, LogPrintsTheLowThirtyTwoBitsOfWideValues) {
  LogCapture log;
  // An empty section: every logical length wraps below zero.
  (void)ComputePlan(PlanInput{0x1'0000'1000ull, 0, 0, 0, 0, 0, std::nullopt});
  EXPECT_EQ(log.Text(),
            "m_arrStartSector: [0x3f 0xf01 0x1000 0x1000]\n"
            "m_arrTotalSectors: [0xec2 0xbd 0x0 0x0]\n"
            "m_arrEpTotalSector: [0xffffffc1 0xffffffc1 0xffffffc1]\n");
}

TEST(PartitionPlan, LabelIsCutOrPaddedToElevenBytes) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, "           "},   {"", "           "},
      {"ABC", "ABC        "},          {"ABCDEFGHIJK", "ABCDEFGHIJK"},
      {"ABCDEFGHIJKL", "ABCDEFGHIJK"}, {"TARNWICK_CARD_LABEL", "TARNWICK_CA"},
      {"card", "card       "},         {"MY CARD", "MY CARD    "}};
  for (const auto& [value, expected] : cases) {
    PlanInput in = ExampleInput(7'743'330);
    in.label = value;
    // A plan that already held a long label: nothing of it may remain.
    PartitionPlan previous;
    previous.m_szVolumeLabel = {'O', 'L', 'D', 'L', 'A', 'B', 'E', 'L', 'X', 'Y', 'Z'};
    EXPECT_EQ(LabelText(ComputePlan(in, previous).m_szVolumeLabel), expected);
  }
}

TEST(PartitionPlan, InitialiseSetsTheDefaultsAndLogsEntriesOneToThree) {
  PartitionPlan p;
  p.m_nCardSize = 123;
  p.m_szVolumeLabel.fill('Q');
  LogCapture log;
  p.Initialise();
  EXPECT_EQ(p.m_nCardSize, 0u);
  EXPECT_EQ(p.m_arrStartSector, (std::array<uint64_t, 4>{63, 0x4003F, 0x8003F, 0xC003F}));
  EXPECT_EQ(p.m_arrTotalSectors, (std::array<uint64_t, 4>{0x40000, 0x40000, 0x40000, 0x40000}));
  EXPECT_EQ(LabelText(p.m_szVolumeLabel), std::string(11, ' '));
  EXPECT_EQ(log.Text(),
            "(start total)[1]: [0x4003f 0x40000]\n"
            "(start total)[2]: [0x8003f 0x40000]\n"
            "(start total)[3]: [0xc003f 0x40000]\n");
}

}  // namespace
}  // namespace tarnwick
