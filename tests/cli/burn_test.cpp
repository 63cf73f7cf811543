// tarnwick-cli burn end to end on card images pre-filled with a pattern byte.
#include <cstdio>

#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

using BurnCli = CliTest;

TEST_F(BurnCli, WritesEveryRegionExactlyAndLeavesTheRestAlone) {
  PatternCard("card.img", 16 * kMiB);
  CliRun run = Burn("--target card.img");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedLog({16 * kMiB}, setup, images));
  ExpectBurned("card.img");
  EXPECT_NE(run.err.find("烧写完成"), std::string::npos) << run.err;
}

TEST_F(BurnCli, TwoTargetsOfDifferentSizesEachGetTheirOwnPlan) {
  PatternCard("a.img", 16 * kMiB);
  PatternCard("b.img", 24 * kMiB);
  CliRun run = Burn("--target a.img --target b.img");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedLog({16 * kMiB, 24 * kMiB}, setup, images));
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
  EXPECT_EQ(run.out, ExpectedLog({16 * kMiB, 24 * kMiB}, setup, images));
  EXPECT_EQ(Cli("inspect new.img").status, 0);
}

// A stage switched off keeps its log line and its old contents; the records
// around it (EBRs included) are still written.
TEST_F(BurnCli, EachStageSwitchAtTwoSkipsOnlyItsImage) {
  const char* const keys[] = {"BurnBootImg", "BurnBootRes", "BurnBootRecover",
                              "BurnSystem",  "BurnCache",   "BurnData"};
  for (const char* key : keys) {
    SCOPED_TRACE(key);
    // Every other key holds a value that lets its image be written.
    std::string settings = "[Burn]\n";
    const char* const kWritten[] = {"0", "1", "3"};
    int other = 0;
    for (const char* k : keys) {
      settings += std::string(k) + "=" + (k == key ? "2" : kWritten[other++ % 3]) + "\n";
    }
    WriteSettings(settings);
    PatternCard("card.img", 16 * kMiB);
    CliRun run = Burn("--target card.img");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, ExpectedLog({16 * kMiB}, setup, images));
    ExpectBurned("card.img", {key});
  }
}

TEST_F(BurnCli, WorkedExampleCardOnASparseImage) {
  setup = {65536, 65536, 524288, 1048576, 262144, "NO LABEL", 2};
  WriteConfig();
  images.bootres = PatternBytes(300000, 9);
  WriteFile(dir.File("bootres.bin"), images.bootres);
  ASSERT_EQ(Cli("mkpack --out board.pack --uboot uboot.bin --bootimg bootimg.bin --bootres "
                "bootres.bin --bootrecover bootrecover.bin --system system.bin --data data.bin")
                .status,
            0);
  // 482 cylinders of 255 x 63 sectors: 7,743,330 sectors.
  CliRun run = Burn("--target card.img --size 3964584960");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, ExpectedLog({3964584960ull}, setup, images));
  for (const char* line :
       {"m_arrStartSector: [0x3f 0x582659 0x742758 0x752758]\n",
        "m_arrTotalSectors: [0x58261a 0x1c00bd 0x10000 0x10000]\n",
        "WrtieSector: BootInfo[0x0]: [0x752758, 0x1]\n",
        "WrtieSector: UBootInfo: [0x75275c, 0x4]\n", "WrtieSector: Misc: [0x752760, 8]\n",
        "WrtieSector: BootEnv: [0x754758, 0x801]\n", "WrtieSector: BootRes: [0x754f5c, 0x24a]\n",
        "WrtieSector: BootImg: [0x7551a9, 0xa]\n", "WrtieSector: BootRecover: [0x742758, 0x9]\n",
        "WrtieSector: EBRData: [0x602659, 1]\n", "WrtieSector: System: [0x582698, 0x28]\n",
        "WrtieSector: Cache: [0x702698, 0x1]\n", "WrtieSector: nFatLen: 0x2bfe\n",
        "WrtieSector: FirstDirSector: [0x2c5f, 1]\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(Cli("inspect card.img --config board.ini").status, 0);
}

}  // namespace
}  // namespace tarnwick::testing
