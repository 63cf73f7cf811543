#pragma once
// Runs the built tarnwick-cli in a temporary working directory that holds a
// small board configuration, its images and their pack file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "burn_inputs.h"
#include "card_model.h"
#include "test_support.h"

namespace tarnwick::testing {

inline constexpr uint8_t kPattern = 0xA5;
inline constexpr uint64_t kMiB = 1024 * 1024;

struct CliRun {
  int status = -1;
  std::string out;  // standard output: the debug log and reports
  std::string err;  // standard error: messages, questions, progress
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    images.dfu = PatternBytes(700, 1);
    images.uboot = PatternBytes(1000, 2);
    images.bootimg = PatternBytes(5000, 3);
    images.bootres = PatternBytes(3000, 4);
    images.bootrecover = PatternBytes(4096, 5);  // a multiple of 512: one zero sector follows
    images.system = PatternBytes(20000, 6);
    images.data = PatternBytes(1536, 7);
    images.cache = {};  // empty: one zero sector
    const std::pair<const char*, const Bytes*> files[] = {{"dfu", &images.dfu},
                                                          {"uboot", &images.uboot},
                                                          {"bootimg", &images.bootimg},
                                                          {"bootres", &images.bootres},
                                                          {"bootrecover", &images.bootrecover},
                                                          {"system", &images.system},
                                                          {"data", &images.data},
                                                          {"cache", &images.cache}};
    std::string args = "mkpack --out board.pack";
    for (const auto& [name, bytes] : files) {
      WriteFile(dir.File(std::string(name) + ".bin"), *bytes);
      args += std::string(" --") + name + " " + name + ".bin";
    }
    WriteConfig();
    CliRun run = Cli(args);
    ASSERT_EQ(run.status, 0) << run.err;
  }

  void WriteConfig() { WriteFile(dir.File("board.ini"), ConfigText(setup)); }
  void WriteSettings(const std::string& text) { WriteFile(dir.File("Tarnwick.ini"), text); }

  // Runs tarnwick-cli with args in the working directory, standard input from stdinFile.
  CliRun Cli(const std::string& args, const std::string& stdinFile = "/dev/null") {
    CliRun run;
    std::string errFile = dir.File("stderr.txt");
    run.status = RunCommand("( cd '" + dir.path().string() + "' && '" + Binary() + "' " + args +
                                " <" + stdinFile + " 2>'" + errFile + "' )",
                            &run.out);
    run.err = ReadFileText(errFile);
    return run;
  }

  CliRun Burn(const std::string& targets) {
    return Cli("burn --config board.ini --pack board.pack --yes " + targets);
  }

  // A card image of the given size filled with the pattern byte.
  std::string PatternCard(const std::string& name, uint64_t bytes) {
    WriteFile(dir.File(name), std::string(bytes, static_cast<char>(kPattern)));
    return dir.File(name);
  }

  static size_t CountLines(const std::string& text, const std::string& line) {
    size_t n = 0;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) n += l == line;
    return n;
  }

  static std::string Binary() { return TARNWICK_BINARY_DIR "/bin/tarnwick-cli"; }

  // Checks a burned card image byte for byte against the model.
  void ExpectBurned(const std::string& name) {
    Bytes actual = ReadFileBytes(dir.File(name));
    Bytes expected = ExpectedCard(actual, kPattern, setup, images);
    EXPECT_EQ(FirstDifferentSector(actual, expected), -1) << name << " differs at that sector";
  }

  TempDir dir;
  BoardSetup setup;
  Images images;
};

}  // namespace tarnwick::testing
