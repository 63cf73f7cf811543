// The counterfeit disks that verification tests burn onto: what they keep,
// and what reading back shows of writes they lost.
#include "counterfeit_disks.h"

#include <gtest/gtest.h>

namespace tarnwick::testing {
namespace {

struct CounterfeitCase {
  const char* name;
  Counterfeit kind;
  LostReads lostReads;
  uint8_t early;  // what sector 1 reads back after both writes
  uint8_t late;   // what sector 1 + real capacity reads back
};

const CounterfeitCase kCases[] = {
    {"DroppedWritesReadAsZeros", Counterfeit::DropsBeyond, LostReads::Zeros, 0x11, 0x00},
    {"DroppedWritesReadAsStale", Counterfeit::DropsBeyond, LostReads::Stale, 0x11, 0xA5},
    {"WrappedWriteOverwritesTheEarlyOne", Counterfeit::Wraps, LostReads::Zeros, 0x22, 0x22},
};

class CounterfeitTest : public ::testing::TestWithParam<CounterfeitCase> {};

TEST_P(CounterfeitTest, ReadBackShowsWhatTheCardKept) {
  const CounterfeitCase& c = GetParam();
  constexpr uint64_t kReal = 8192;
  CounterfeitDiskService disks;
  CounterfeitCard& card = disks.AddCard("card", 2, kReal, c.kind, c.lostReads);
  DiskGeometry g;
  ASSERT_TRUE(disks.OpenForQuery("card")->GetDriveGeometry(g));
  EXPECT_EQ(g.Cylinders, 2);  // the size it claims, not what it keeps

  SysResult<std::unique_ptr<IDiskWriter>> opened = disks.OpenForWrite("card");
  ASSERT_TRUE(opened.IsOk());
  std::unique_ptr<IDiskWriter> w = opened.Take();
  std::vector<uint8_t> early(512, 0x11), late(512, 0x22), back(1024);
  ASSERT_TRUE(w->WriteAt(512, early.data(), 512).IsOk());
  ASSERT_TRUE(w->WriteAt((kReal + 1) * 512, late.data(), 512).IsOk());  // accepted either way
  EXPECT_FALSE(w->WriteAt(card.advertisedSectors * 512, late.data(), 512).IsOk());

  ASSERT_TRUE(w->ReadBackAt(512, back.data(), 512).IsOk());
  EXPECT_EQ(back[0], c.early);
  EXPECT_EQ(card.WrittenButNotReadBack(), 1u);
  ASSERT_TRUE(w->ReadBackAt(kReal * 512, back.data(), 1024).IsOk());
  EXPECT_EQ(back[512], c.late);
  EXPECT_EQ(back[0], c.kind == Counterfeit::Wraps ? 0xA5 : c.late == 0 ? 0x00 : 0xA5);
  EXPECT_EQ(card.WrittenButNotReadBack(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cards, CounterfeitTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Counterfeit, ReadBackFailsWhereAskedAndPastTheEnd) {
  CounterfeitDiskService disks;
  CounterfeitCard& card = disks.AddCard("card", 2, 4096, Counterfeit::DropsBeyond);
  card.failReadAtSector = 100;
  std::unique_ptr<IDiskWriter> w = disks.OpenForWrite("card").Take();
  std::vector<uint8_t> back(4096);
  EXPECT_FALSE(w->ReadBackAt(99 * 512, back.data(), 1024).IsOk());
  EXPECT_TRUE(w->ReadBackAt(101 * 512, back.data(), 1024).IsOk());
  EXPECT_FALSE(w->ReadBackAt(card.advertisedSectors * 512 - 512, back.data(), 1024).IsOk());
  EXPECT_FALSE(w->ReadBackAt(100, back.data(), 512).IsOk());
}

}  // namespace
}  // namespace tarnwick::testing
