// tarnwick-cli burn on a loop device the test attaches to a file it made:
// the same bytes as on a card image file, and only with --allow-fixed.
#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

class LoopDeviceCli : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveProgram("losetup")) GTEST_SKIP() << "losetup is not installed";
    PatternCard("loop-backing.img", 16 * kMiB);
    std::string out;
    if (RunCommand("losetup --find --show '" + dir.File("loop-backing.img") + "'", &out) != 0 ||
        out.rfind("/dev/loop", 0) != 0) {
      GTEST_SKIP() << "no loop device could be attached (needs root): " << out;
    }
    device = out.substr(0, out.find('\n'));
  }
  void TearDown() override {
    if (!device.empty()) {
      std::string out;
      EXPECT_EQ(RunCommand("losetup -d " + device, &out), 0) << out;
    }
  }
  std::string device;
};

TEST_F(LoopDeviceCli, BurnsTheSameBytesAsOnAnImageFileOnlyWithAllowFixed) {
  CliRun refused = Burn("--target " + device);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("fixed"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFileBytes(dir.File("loop-backing.img")), Bytes(16 * kMiB, kPattern));

  CliRun run = Burn("--target " + device + " --allow-fixed");
  ASSERT_EQ(run.status, 0) << run.err;
  // A loop device without partition scanning refuses the re-read: a log line, not a failure.
  EXPECT_EQ(CountLines(run.out, "BurnToOneSD: Write ok"), 1u) << run.out;
  ExpectBurned("loop-backing.img");
  EXPECT_EQ(Cli("inspect " + device + " --config board.ini").status, 0);
}

}  // namespace
}  // namespace tarnwick::testing
