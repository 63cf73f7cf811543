// What burn shows on a terminal and elsewhere: the debug log stays on a
// redirected standard output byte for byte, and leaves a terminal unless
// asked for; progress is a line per stage when standard error is not a
// terminal; the question before a burn names the cards it erases.
#include <filesystem>

#include "child_cli.h"
#include "cli_fixture.h"

namespace tarnwick::testing {
namespace {

using TerminalCli = CliTest;

constexpr const char* kLogLine = "BurnToOneSD: Write ok";

TEST_F(TerminalCli, RedirectedOutputKeepsTheLogAndPlainProgress) {
  PatternCard("a.img", 16 * kMiB);
  PatternCard("b.img", 16 * kMiB);
  CliRun plain = Burn("--target a.img");
  ASSERT_EQ(plain.status, 0) << plain.err;
  // --log and --verbose change nothing on a redirected standard output.
  CliRun logged = Burn("--target b.img --log run.log --verbose");
  ASSERT_EQ(logged.status, 0) << logged.err;
  EXPECT_EQ(CountLines(plain.out, kLogLine), 1u);
  auto sameLog = [](std::string text, const std::string& from, const std::string& to) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
  };
  EXPECT_EQ(sameLog(logged.out, "b.img", "a.img"), plain.out);
  EXPECT_EQ(ReadFileText(dir.File("run.log")), logged.out);

  EXPECT_EQ(plain.err.find('\r'), std::string::npos) << plain.err;
  for (const char* line :
       {"card 1/1  1/15 MBR\n", "card 1/1  9/15 Cache\n", "card 1/1 15/15 flush\n"})
    EXPECT_NE(plain.err.find(line), std::string::npos) << line << plain.err;
  EXPECT_NE(plain.err.find("a.img, 15.7 MiB: written completely"), std::string::npos)
      << plain.err;
}

struct TerminalCase {
  const char* name;
  const char* options;
  bool logOnTerminal;
  bool logInFile;
};

const TerminalCase kTerminalCases[] = {
    {"quiet", "", false, false},
    {"verbose", "--verbose", true, false},
    {"log_file", "--log run.log", false, true},
};

class TerminalOutput : public CliTest, public ::testing::WithParamInterface<TerminalCase> {};

TEST_P(TerminalOutput, DebugLogLeavesTheTerminalUnlessAsked) {
  const TerminalCase& c = GetParam();
  setup.boot = 25000;  // too big for the small card: a failed card
  WriteConfig();
  PatternCard("card.img", 24 * kMiB);
  PatternCard("small.img", 16 * kMiB);
  ChildCli child(Binary(), dir.path().string(),
                 std::string("burn --config board.ini --pack board.pack --yes --target card.img "
                             "--target small.img ") +
                     c.options,
                 ChildCli::Streams::Terminal);
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Wait(), 1);
  const std::string shown = child.Terminal();
  EXPECT_EQ(shown.find(kLogLine) != std::string::npos, c.logOnTerminal) << shown;
  // Sizes as the card is counted: whole cylinders of 255 x 63 sectors.
  EXPECT_NE(shown.find("card.img, 23.5 MiB: written completely"), std::string::npos) << shown;
  EXPECT_NE(shown.find("small.img, 15.7 MiB: FAILED, not written: card of "), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("1 of 2 card(s) written completely"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\r\033[K"), std::string::npos) << "a progress line is drawn";
  const bool file = std::filesystem::exists(dir.File("run.log"));
  EXPECT_EQ(file, c.logInFile);
  if (file) {
    EXPECT_EQ(CountLines(ReadFileText(dir.File("run.log")), kLogLine), 1u);
  }
  ExpectBurned("card.img");
}

INSTANTIATE_TEST_SUITE_P(Burn, TerminalOutput, ::testing::ValuesIn(kTerminalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalCli, QuestionListsTheCardsToBeErased) {
  WriteSettings("[Burn]\nWarningBeforeBurn=1\n");
  PatternCard("card.img", 16 * kMiB);
  for (const char* answer : {"c\n", "o\n"}) {
    ChildCli child(Binary(), dir.path().string(),
                   "burn --config board.ini --pack board.pack --target card.img --target new.img "
                   "--size 16M",
                   ChildCli::Streams::Terminal);
    ASSERT_TRUE(child.WaitFor(
        [](const std::string& s) { return s.find("OK or Cancel?") != std::string::npos; }));
    child.Type(answer);
    const int status = child.Wait();
    const std::string shown = child.Terminal();
    EXPECT_NE(shown.find("These cards will be erased:\r\n  card.img, 15.7 MiB\r\n"
                         "  new.img (new card image), 16.0 MiB\r\n"),
              std::string::npos)
        << shown;
    EXPECT_EQ(status, answer[0] == 'o' ? 0 : 2) << shown;
  }
  ExpectBurned("card.img");
}

// A log that cannot be written, or would be appended to an input of the
// run or to a card, is refused before any card.
TEST_F(TerminalCli, BadLogFileIsRefusedBeforeAnyCard) {
  PatternCard("card.img", 16 * kMiB);
  std::filesystem::create_symlink("board.pack", dir.File("pack-link"));
  const Bytes pack = ReadFileBytes(dir.File("board.pack"));
  const std::pair<const char*, const char*> cases[] = {
      {"no/such/folder/run.log", "cannot open the log file"},
      {"pack-link", "is the pack file"},
      {"board.ini", "is the configuration file"},
      {"card.img", "is the card card.img"},
      {"./new.img", "is the card new.img"},
  };
  for (const auto& [log, why] : cases) {
    CliRun run = Burn(std::string("--target card.img --target new.img --size 16M --log ") + log);
    EXPECT_EQ(run.status, 2) << log;
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("card.img")), Bytes(16 * kMiB, kPattern));
  EXPECT_EQ(ReadFileBytes(dir.File("board.pack")), pack);
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.img")));
}

}  // namespace
}  // namespace tarnwick::testing
