// tarnwick-cli burn on a loop device the test attaches to a file it made:
// the same bytes as on a card image file, and only with --allow-fixed.
#include "loop_device.h"

#include <memory>

#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

class LoopDeviceCli : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveProgram("losetup")) GTEST_SKIP() << "losetup is not installed";
    loop = std::make_unique<LoopDevice>(PatternCard("loop-backing.img", 16 * kMiB), false);
    if (loop->Path().empty()) GTEST_SKIP() << "no loop device could be attached: " << loop->Error();
    device = loop->Path();
  }
  std::unique_ptr<LoopDevice> loop;
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
