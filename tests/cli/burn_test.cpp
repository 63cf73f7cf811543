// tarnwick-cli burn end to end on card images pre-filled with a pattern byte.
#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

using BurnCli = CliTest;

TEST_F(BurnCli, WritesEveryRegionExactlyAndLeavesTheRestAlone) {
  PatternCard("card.img", 16 * kMiB);
  CliRun run = Burn("--target card.img");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(CountLines(run.out, "BurnToOneSD: Write ok"), 1u);
  ExpectBurned("card.img");
  EXPECT_NE(run.err.find("烧写完成"), std::string::npos) << run.err;
}

TEST_F(BurnCli, TwoTargetsOfDifferentSizesEachGetTheirOwnPlan) {
  PatternCard("a.img", 16 * kMiB);
  PatternCard("b.img", 24 * kMiB);
  CliRun run = Burn("--target a.img --target b.img");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(CountLines(run.out, "BurnToOneSD: Write ok"), 2u);
  ExpectBurned("a.img");
  ExpectBurned("b.img");
  EXPECT_EQ(Cli("inspect a.img --config board.ini").status, 0);
  EXPECT_EQ(Cli("inspect b.img --config board.ini").status, 0);
}

TEST_F(BurnCli, MissingImageIsCreatedSparseWithSizeAndExistingKeepsItsSize) {
  PatternCard("old.img", 24 * kMiB);
  CliRun run = Burn("--target new.img --target old.img --size 16M");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("new.img")).size(), 16 * kMiB);
  EXPECT_EQ(ReadFileBytes(dir.File("old.img")).size(), 24 * kMiB);
  EXPECT_EQ(CountLines(run.out, "BurnToOneSD: Write ok"), 2u);
  EXPECT_EQ(Cli("inspect new.img").status, 0);
}

}  // namespace
}  // namespace tarnwick::testing
