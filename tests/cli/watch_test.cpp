// burn --watch over the card image table (a missing image is an empty
// reader), and Ctrl-C: while waiting, and in the middle of a card.
#include <algorithm>
#include <filesystem>

#include "child_cli.h"
#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using WatchCli = CliTest;

auto Shows(const std::string& text) {
  return [text](const std::string& s) { return s.find(text) != std::string::npos; };
}

TEST_F(WatchCli, EachInsertedCardIsBurnedUntilCtrlC) {
  setup.boot = 25000;  // a 16 MiB card is then too small: a failed card
  WriteConfig();
  // A card is put in whole: written aside, then renamed into the table.
  auto insert = [&](const std::string& name, uint64_t bytes) {
    PatternCard(name + ".new", bytes);
    fs::rename(dir.File(name + ".new"), dir.File(name));
  };
  ChildCli child(Binary(), dir.path().string(),
                 "burn --config board.ini --pack board.pack --yes --watch --card-images "
                 "a.img:b.img",
                 ChildCli::Streams::Files);
  ASSERT_TRUE(child.WaitFor(Shows("Watching for cards"))) << child.Err();
  insert("a.img", 24 * kMiB);
  ASSERT_TRUE(child.WaitFor(Shows("passed 1, failed 0\a\n"))) << child.Err();
  insert("b.img", 16 * kMiB);
  ASSERT_TRUE(child.WaitFor(Shows("passed 1, failed 1\a\n"))) << child.Err();
  ExpectBurned("a.img");

  // Taken out and inserted again: burned again.
  fs::remove(dir.File("a.img"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  insert("a.img", 24 * kMiB);
  ASSERT_TRUE(child.WaitFor(Shows("passed 2, failed 1\a\n"))) << child.Err();
  ExpectBurned("a.img");

  child.Interrupt();
  EXPECT_EQ(child.Wait(), 130);
  const std::string err = child.Err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\a'), 3) << err;
  // Each arrival is a run of its own: its cards are counted from 1.
  EXPECT_EQ(err.find("card 2/"), std::string::npos) << err;
  EXPECT_EQ(CountLines(err, "card 1/1  1/15 MBR"), 2u) << err;
  EXPECT_NE(err.find("watch ended by Ctrl-C: 2 card(s) passed, 1 failed, 0 interrupted"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("b.img, 15.7 MiB: FAILED, not written: card of "), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(dir.File("b.img")), Bytes(16 * kMiB, kPattern));
}

// A large System image, so that Ctrl-C comes while it is written.
TEST_F(WatchCli, CtrlCInTheMiddleOfACardStopsItAsInterrupted) {
  setup.system = 280000;
  WriteConfig();
  WriteFile(dir.File("big-system.bin"), PatternBytes(128 * kMiB, 9));
  ASSERT_EQ(Cli("mkpack --out big.pack --uboot uboot.bin --system big-system.bin").status, 0);
  ChildCli child(Binary(), dir.path().string(),
                 "burn --config board.ini --pack big.pack --yes --target big.img --size 512M",
                 ChildCli::Streams::Files);
  ASSERT_TRUE(child.WaitFor(Shows(" 8/15 System\n"))) << child.Err();
  child.Interrupt();
  EXPECT_EQ(child.Wait(), 130);
  const std::string err = child.Err();
  EXPECT_NE(err.find("big.img, 509.9 MiB: INTERRUPTED, incomplete: stopped by Ctrl-C (Write "),
            std::string::npos)
      << err;
  // The card stopped in the middle: it never reached its end.
  EXPECT_EQ(err.find(" 15/15 "), std::string::npos) << err;
  EXPECT_NE(Cli("inspect big.img").status, 0);
}

}  // namespace
}  // namespace tarnwick::testing
