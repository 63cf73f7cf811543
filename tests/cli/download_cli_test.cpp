// tarnwick-cli download against the simulated board: the package the board
// receives, then the burn of the card it presents.
#include <filesystem>

#include "bootcfg/boot_info.h"
#include "cli_fixture.h"
#include "common/le.h"

namespace tarnwick::testing {
namespace {

using DownloadCli = CliTest;

// The package as the board must receive it: the boot record for the DFU
// image, the image, zeros up to the last whole sector of length + 1024.
Bytes ExpectedPackage(const Bytes& dfu, const std::string& cfgFile) {
  Bytes package(dfu.size() + 1024, 0);
  std::copy(dfu.begin(), dfu.end(), package.begin() + 512);
  BootInfo info{};
  CCrc32 crc;
  BuildBootInfo(info, crc, ReadBoardConfig(cfgFile), static_cast<uint32_t>(dfu.size()),
                package.data() + 512, 0);
  std::copy(info.begin(), info.end(), package.begin());
  package.resize((dfu.size() + 1024) & ~size_t{511});
  return package;
}

TEST_F(DownloadCli, WaitReceivesThePackageThenBurnsThePresentedCard) {
  CliRun run =
      Cli("download --config board.ini --pack board.pack --wait --timeout 5 --simulate-board sim "
          "--size 16M");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("1 of 1 board(s) received the download program"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("1 of 1 card(s) written completely"), std::string::npos) << run.err;

  Bytes received = ReadFileBytes(dir.File("sim/received.bin"));
  EXPECT_EQ(received, ExpectedPackage(images.dfu, dir.File("board.ini")));
  EXPECT_EQ(GetU32(received.data(), 8), 0x10000u);  // DfuAddrInfo, not AddrInfo

  EXPECT_EQ(std::filesystem::file_size(dir.File("sim/card.img")), 16 * kMiB);
  Bytes card = ReadFileBytes(dir.File("sim/card.img"));
  Bytes expected = ExpectedCard(card, 0x00, setup, images);
  EXPECT_EQ(FirstDifferentSector(card, expected), -1) << "the card differs at that sector";
  CliRun inspect = Cli("inspect sim/card.img --config board.ini");
  EXPECT_EQ(inspect.status, 0) << inspect.out;
}

TEST_F(DownloadCli, WithoutWaitOnlyTheDownloadRuns) {
  CliRun run = Cli("download --config board.ini --pack board.pack --simulate-board sim");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("1 of 1 board(s) received the download program"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.File("sim/received.bin")),
            ExpectedPackage(images.dfu, dir.File("board.ini")));
  // The card is presented (4 GiB, sparse) but nobody waited to burn it.
  EXPECT_EQ(std::filesystem::file_size(dir.File("sim/card.img")), 4ull << 30);
  EXPECT_EQ(Cli("inspect sim/card.img").status, 1);
}

TEST_F(DownloadCli, RefusalsBeforeAnythingIsSent) {
  WriteFile(dir.File("short.pack"), Bytes(300, 1));
  Bytes truncated = ReadFileBytes(dir.File("board.pack"));
  PutU32(truncated.data(), 0x78 + 4, static_cast<uint32_t>(truncated.size()));  // DFU length
  WriteFile(dir.File("truncated.pack"), truncated);
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"--pack short.pack --wait", "too short"},
      {"--pack truncated.pack --wait", "ends past the end of the file"},
      {"--pack missing.pack", "pack file not found"},
      {"--pack board.pack --timeout 5", "--timeout only applies with --wait"},
      {"--pack board.pack --wait --timeout 0", "bad --timeout '0': whole seconds"},
      {"--pack board.pack --wait --timeout 9999999999", "from 1 to 999999999"},
      {"--pack board.pack --size 1G", "--size only applies with --simulate-board"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir.File("sim"));
    std::string sim =
        std::string(c.args).find("--size") == std::string::npos ? " --simulate-board sim" : "";
    CliRun run = Cli(std::string("download --config board.ini ") + c.args + sim);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("sim/received.bin"))) << c.args;
  }
}

TEST_F(DownloadCli, WarningBeforeBurnNeedsAnAnswer) {
  WriteSettings("[Burn]\nWarningBeforeBurn=1\n");
  CliRun refused = Cli("download --config board.ini --pack board.pack --simulate-board sim");
  EXPECT_EQ(refused.status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.File("sim/received.bin")));
  CliRun confirmed =
      Cli("download --config board.ini --pack board.pack --simulate-board sim --yes");
  EXPECT_EQ(confirmed.status, 0) << confirmed.err;
}

}  // namespace
}  // namespace tarnwick::testing
