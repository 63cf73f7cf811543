// tarnwick-cli exit statuses, refusals before writing, the question before a
// burn, and the disks report.
#include <filesystem>

#include "cli_fixture.h"
#include "platform/fake_disk_tree.h"

namespace tarnwick::testing {
namespace {

using ExitStatusCli = CliTest;

struct Refusal {
  const char* name;
  std::string args;
  const char* says;  // part of the message on standard error
};

// Every refusal happens before anything is written or created.
TEST_F(ExitStatusCli, BadArgumentsAndInputsAreRefusedWithStatus2BeforeWriting) {
  PatternCard("card.img", 16 * kMiB);
  PatternCard("tiny.img", kMiB);
  std::filesystem::create_directory(dir.File("folder"));
  ASSERT_EQ(RunCommand("mkfifo '" + dir.File("fifo") + "'", nullptr), 0);
  // Other names of the run's own files.
  WriteSettings("[Burn]\nWarningBeforeBurn=0\n");
  std::filesystem::create_symlink("board.ini", dir.path() / "config-link.img");
  std::filesystem::create_hard_link(dir.File("Tarnwick.ini"), dir.File("settings-name.img"));
  std::filesystem::create_directory(dir.File("pack-sim"));
  std::filesystem::create_hard_link(dir.File("board.pack"), dir.File("pack-sim/card.img"));
  const Bytes pack = ReadFileBytes(dir.File("board.pack"));
  const std::string config = ReadFileText(dir.File("board.ini"));
  const std::string burn = "burn --config board.ini --pack board.pack --yes ";
  std::string fourteen;
  for (int i = 0; i < 14; ++i) fourteen += " --target t" + std::to_string(i) + ".img";
  const Refusal cases[] = {
      {"no command", "", "usage"},
      {"unknown command", "frobnicate", "unknown command"},
      {"unknown option", burn + "--target card.img --frob", "unknown option --frob"},
      {"no configuration", "burn --pack board.pack --target card.img", "--config"},
      {"missing configuration", "burn --config none.ini --pack board.pack --target card.img",
       "configuration file not found"},
      {"missing pack", "burn --config board.ini --pack none.pack --target card.img",
       "pack file not found"},
      {"configuration is a folder", "burn --config folder --pack board.pack --target card.img",
       "the configuration file folder is a folder, not a file"},
      {"pack is a FIFO", "download --config board.ini --pack fifo",
       "the pack file fifo is a FIFO, not a file"},
      {"empty configuration name", "burn --config '' --pack board.pack", "--config '' names no"},
      {"empty target name", burn + "--target card.img --target ''", "--target '' names no card"},
      {"size beyond 32-bit sectors", burn + "--target new.img --size 3T",
       "more than 2^32 sectors (2 TiB)"},
      {"pack as target", burn + "--target card.img --target board.pack",
       "target board.pack is the pack file"},
      {"configuration through a link", burn + "--target config-link.img",
       "target config-link.img is the configuration file"},
      {"settings through a second name", burn + "--target settings-name.img",
       "target settings-name.img is the settings file"},
      {"inspect of a FIFO", "inspect fifo", "fifo is a FIFO: neither"},
      {"inspect of an empty name", "inspect ''", "inspect '' names no card"},
      {"inspect against a FIFO", "inspect card.img --config fifo",
       "the configuration file fifo is a FIFO, not a file"},
      {"inspect against a folder", "inspect card.img --config folder",
       "the configuration file folder is a folder, not a file"},
      {"FIFO as target", burn + "--target fifo", "fifo is a FIFO: neither"},
      {"mkpack into a FIFO", "mkpack --out fifo --system system.bin",
       "the pack file fifo is a FIFO, not a file"},
      {"mkpack of a folder", "mkpack --out x.pack --system folder",
       "--system: the system image folder is a folder, not a file"},
      {"simulated card below a cylinder",
       "download --config board.ini --pack board.pack --simulate-board sim --size 1",
       "less than one cylinder"},
      {"simulated card beyond 32-bit sectors",
       "download --config board.ini --pack board.pack --simulate-board sim --size 3T",
       "more than 2^32 sectors"},
      {"simulated board's card is the pack",
       "download --config board.ini --pack board.pack --simulate-board pack-sim",
       "pack-sim/card.img is the pack file"},
      {"simulated board in a FIFO",
       "download --config board.ini --pack board.pack --simulate-board fifo",
       "cannot use fifo for the simulated board: it is a FIFO, not a folder"},
      {"missing image without size", burn + "--target new.img", "--size"},
      {"bad size suffix", burn + "--target new.img --size 4X", "bad --size"},
      {"size below a cylinder", burn + "--target new.img --size 1M", "less than one cylinder"},
      {"image below a cylinder", burn + "--target tiny.img --target card.img", "smaller than one"},
      {"folder as target", burn + "--target card.img --target folder", "neither"},
      {"character device", burn + "--target /dev/null", "neither"},
      {"target twice", burn + "--target card.img --target ./card.img", "named twice"},
      {"fourteen targets", burn + "--size 16M" + fourteen, "at most 13"},
      {"test tree with targets", burn + "--sys-root . --target card.img", "--sys-root"},
      {"folder for a new image missing", burn + "--target nowhere/new.img --size 16M",
       "/nowhere for the card image nowhere/new.img"},
      {"new image named as a folder", burn + "--target newdir/ --size 16M",
       "--target newdir/ names a folder, not a card"},
      {"inspect without path", "inspect", "PATH"},
      {"inspect of a missing file", "inspect none.img", "cannot open"},
      {"mkpack without output", "mkpack --uboot uboot.bin", "--out"},
      {"mkpack of a missing image", "mkpack --out x.pack --system none.bin", "none.bin"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  Bytes card = ReadFileBytes(dir.File("card.img"));
  EXPECT_EQ(card, Bytes(16 * kMiB, kPattern));
  EXPECT_EQ(ReadFileBytes(dir.File("tiny.img")), Bytes(kMiB, kPattern));
  EXPECT_EQ(ReadFileBytes(dir.File("board.pack")), pack);
  EXPECT_EQ(ReadFileText(dir.File("board.ini")), config);
  EXPECT_EQ(ReadFileText(dir.File("Tarnwick.ini")), "[Burn]\nWarningBeforeBurn=0\n");
  for (const char* created : {"new.img", "t0.img", "x.pack"}) {
    EXPECT_FALSE(std::filesystem::exists(dir.File(created))) << created;
  }
}

// An image made by a run whose card is refused before writing is removed
// again; one that was written stays.
TEST_F(ExitStatusCli, ImageMadeForARefusedCardIsRemoved) {
  setup.boot = 25000;
  WriteConfig();
  PatternCard("big.img", 24 * kMiB);
  CliRun run = Burn("--target new.img --target big.img --size 16M");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.img")));
  EXPECT_NE(run.err.find("removed new.img: made for this run, never written"), std::string::npos)
      << run.err;
  ExpectBurned("big.img");
  EXPECT_EQ(run.err.find("removed big.img"), std::string::npos);
}

// A settings file that cannot be read: the run goes on with the defaults,
// and standard error says so.
TEST_F(ExitStatusCli, UnreadableSettingsAreWarnedAbout) {
  std::filesystem::create_directory(dir.File("Tarnwick.ini"));
  PatternCard("card.img", 16 * kMiB);
  CliRun run = Cli("burn --config board.ini --pack board.pack --target card.img");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: The settings file " + dir.File("Tarnwick.ini") +
                         " exists but cannot be read (it is a folder"),
            std::string::npos)
      << run.err;
}

// A card too small for the partition sizes is refused untouched; the next
// card is still burned, the failed one is listed and the status is 1.
TEST_F(ExitStatusCli, RefusedCardGivesStatus1AndTheOtherCardIsBurned) {
  setup.boot = 25000;
  WriteConfig();
  PatternCard("small.img", 16 * kMiB);
  PatternCard("big.img", 24 * kMiB);
  CliRun run = Burn("--target small.img --target big.img");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("small.img")), Bytes(16 * kMiB, kPattern));
  ExpectBurned("big.img");
  EXPECT_NE(run.out.find("BurnToOneSD: "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("small.img"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("烧写完成"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 of 2 card(s) written"), std::string::npos) << run.err;
}

TEST_F(ExitStatusCli, NoCardFoundGivesStatus3) {
  std::filesystem::create_directories(dir.path() / "tree/sys/block");
  std::filesystem::create_directories(dir.path() / "tree/proc/self");
  WriteFile(dir.File("tree/proc/self/mountinfo"), "");
  CliRun run = Cli("burn --config board.ini --pack board.pack --yes --sys-root tree");
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("No card found: nothing was written.\n烧写完成\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("no card found"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("烧写完成"), std::string::npos) << run.err;
}

TEST_F(ExitStatusCli, WarningBeforeBurnNeedsYesWithoutATerminal) {
  WriteSettings("[Burn]\nWarningBeforeBurn=1\n");
  PatternCard("card.img", 16 * kMiB);
  CliRun refused =
      Cli("burn --config board.ini --pack board.pack --target card.img "
          "--target new.img --size 16M");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(ReadFileBytes(dir.File("card.img")), Bytes(16 * kMiB, kPattern));
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.img")));

  CliRun confirmed = Burn("--target card.img");
  EXPECT_EQ(confirmed.status, 0) << confirmed.err;
  EXPECT_NE(confirmed.err.find("请拔出不相关USB设备，然后开始烧写"), std::string::npos);
  ExpectBurned("card.img");
}

// On a terminal the question is asked: Cancel writes nothing, OK burns, and
// the progress line appears on standard error.
TEST_F(ExitStatusCli, WarningBeforeBurnIsAskedOnATerminal) {
  if (!HaveProgram("script")) GTEST_SKIP() << "script (util-linux) is needed for a terminal";
  WriteSettings("[Burn]\nWarningBeforeBurn=1\n");
  PatternCard("card.img", 16 * kMiB);
  const std::string command = "burn --config board.ini --pack board.pack --target card.img";
  struct Case {
    const char* answer;
    int status;
    bool burned;
  };
  for (const Case& c : {Case{"c", 2, false}, Case{"", 2, false}, Case{"o", 0, true}}) {
    SCOPED_TRACE(c.answer);
    std::string output;
    WriteFile(dir.File("answer.txt"), std::string(c.answer) + "\n");
    int status = RunCommand("cd '" + dir.path().string() + "' && script -qec \"'" + Binary() +
                                "' " + command + "\" /dev/null < answer.txt",
                            &output);
    EXPECT_EQ(status, c.status) << output;
    EXPECT_NE(output.find("OK or Cancel?"), std::string::npos) << output;
    if (c.burned) {
      ExpectBurned("card.img");
      EXPECT_NE(output.find("15/15 flush"), std::string::npos) << output;
      EXPECT_NE(output.find(" MB/s "), std::string::npos) << output;
      EXPECT_NE(output.find("card 1/1 [####################]"), std::string::npos) << output;
    } else {
      EXPECT_EQ(ReadFileBytes(dir.File("card.img")), Bytes(16 * kMiB, kPattern));
    }
  }
}

TEST_F(ExitStatusCli, DisksListsTheCardsAndWhyOthersAreLeftOut) {
  FakeDiskTree tree;
  tree.Disk("sda", "8:0", 500118192, false);
  tree.Partition("sda", "sda1", "8:1");
  tree.Mount("8:1", "/", "/dev/sda1");
  tree.Disk("sdb", "8:16", 7744512, true);
  tree.Disk("sdc", "8:32", 0, true);
  tree.Disk("sdd", "8:48", 1000000, false);
  CliRun run = Cli("disks --sys-root " + tree.Root());
  ASSERT_EQ(run.status, 0) << run.err;
  const char* const lines[] = {
      "slot 0  /dev/sdb",      "/dev/sda", "system disk: holds /",           "/dev/sdc",
      "no card in the reader", "/dev/sdd", "fixed disk, not removable media"};
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = run.out.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "\n" << run.out;
    if (found != std::string::npos) at = found;
  }
}

}  // namespace
}  // namespace tarnwick::testing
