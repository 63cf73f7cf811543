// Refusals and warnings a new user meets: a pack that is not a pack, a device
// that is not there, --size for an image that exists, a card too small, and
// the exit statuses every command's help gives.
#include <filesystem>

#include "cli_fixture.h"
#include "common/le.h"

namespace tarnwick::testing {
namespace {

using RefusalsCli = CliTest;

TEST_F(RefusalsCli, APackThatIsNotAPackIsRefusedBeforeAnyCard) {
  PatternCard("card.img", 16 * kMiB);
  const Bytes pack = ReadFileBytes(dir.File("board.pack"));
  const uint32_t size = static_cast<uint32_t>(pack.size());
  Bytes startsPast = pack;
  PutU32(startsPast.data(), 0x78 + 0x20 * 4, size + 512);  // System's offset
  Bytes endsPast = pack;
  PutU32(endsPast.data(), 0x78 + 0x20 * 5 + 4, size);  // Data's length
  WriteFile(dir.File("short.pack"), Bytes(300, 1));
  WriteFile(dir.File("starts-past.pack"), startsPast);
  WriteFile(dir.File("ends-past.pack"), endsPast);
  const std::pair<std::string, std::string> cases[] = {
      {"short.pack", "too short: it holds 300 bytes, less than its 392-byte header"},
      {"starts-past.pack", "its System image starts at offset " + std::to_string(size + 512) +
                               ", past the end of the file"},
      {"ends-past.pack", "its Data image (offset"},
  };
  for (const auto& [name, says] : cases) {
    for (const std::string command :
         {"burn --target card.img", "download --wait --simulate-board sim"}) {
      CliRun run = Cli(command + " --config board.ini --yes --pack " + name);
      EXPECT_EQ(run.status, 2) << command << " " << name << ": " << run.err;
      EXPECT_NE(run.err.find("is not a pack, or is cut short"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(says), std::string::npos) << says << "\n" << run.err;
      EXPECT_EQ(run.out.find("WriteSector"), std::string::npos) << run.out;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("sim/received.bin")));
  EXPECT_EQ(ReadFileBytes(dir.File("card.img")), Bytes(16 * kMiB, kPattern));
  // A stage switched off does not read its image: the pack serves.
  WriteSettings("[Burn]\nBurnSystem=2\n");
  EXPECT_EQ(Burn("--target card.img --pack starts-past.pack").status, 0);
}

TEST_F(RefusalsCli, ADeviceThatIsNotThereIsNeverMadeAFile) {
  CliRun run = Burn("--target /dev/tarnwick-no-such-card --size 16M");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no such device: /dev/tarnwick-no-such-card"), std::string::npos)
      << run.err;
  EXPECT_FALSE(std::filesystem::exists("/dev/tarnwick-no-such-card"));
}

TEST_F(RefusalsCli, SizeForAnExistingImageOfAnotherSizeIsAWarning) {
  PatternCard("card.img", 16 * kMiB);
  PatternCard("same.img", 24 * kMiB);
  CliRun run = Burn("--target card.img --target same.img --size 24M");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: card image card.img exists with 16777216 bytes; it keeps its "
                         "size, --size 24M applies to new images only"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("same.img exists"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("card.img")).size(), 16 * kMiB);
  ExpectBurned("card.img");
}

TEST_F(RefusalsCli, ACardTooSmallFailsAndIsToldTheSizeItNeeds) {
  PatternCard("small.img", 8 * kMiB);
  CliRun run = Burn("--target small.img");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("card of 16065 sectors is too small for the configured partitions "
                         "(section \"PARTITION_SECTORS\"); the card would need at least "),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("small.img")), Bytes(8 * kMiB, kPattern));
}

TEST_F(RefusalsCli, EveryCommandsHelpGivesItsExitStatuses) {
  for (const char* command : {"burn", "download", "inspect", "mkpack", "disks"}) {
    CliRun run = Cli(std::string(command) + " --help");
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("Exit status: 0 "), std::string::npos) << command << "\n" << run.out;
  }
}

}  // namespace
}  // namespace tarnwick::testing
