#include "bootcfg/board_config.h"

#include <gtest/gtest.h>

#include "bootcfg_fixture.h"
#include "test_support.h"

namespace tarnwick {
namespace {

// Every section the burn and the download read, each once.
std::vector<ConfigSection> EverySection() {
  std::vector<ConfigSection> sections = BootInfoSections(1);
  sections.push_back(BootInfoSections(0).front());
  for (ConfigSection& s : DdrClkSections()) sections.push_back(std::move(s));
  return sections;
}

class BoardConfigTest : public ::testing::Test {
 protected:
  BoardConfig Read(const std::string& ini) {
    testing::WriteFile(m_cfg, ini);
    return ReadBoardConfig(m_cfg);
  }

  testing::TempDir m_dir;
  std::string m_cfg = m_dir.File("board.ini");
};

// Every key of both address sections, the boot-information sections and the
// tables is read whole (the records keep the low bits later); register
// pairs from 39 on and tables numbered 4 are never read.
TEST_F(BoardConfigTest, ReadsEveryListedKeyAndNothingElse) {
  const testing::AllKeys all = testing::AllKeysIni(
      EverySection(), "ddrcRegAddr[39]=1\nddrcRegVal[39]=2\n", {{"imageStoreNum", 0x305}});
  const BoardConfig config =
      Read(all.ini + "[DDRInfo4]\ncpuClk=1\nddramSize=2\n[CLKInfo4]\nclkBypassCtrl=3\n");
  EXPECT_EQ(config, all.config);
  EXPECT_EQ(config.Value("DfuAddrInfo", "goAddr"), all.config.Value("DfuAddrInfo", "goAddr"));
  EXPECT_NE(config.Value("AddrInfo", "goAddr"), config.Value("DfuAddrInfo", "goAddr"));
  EXPECT_EQ(config.Value("imageStoreInfor", "imageStoreNum"), 0x305u);
  EXPECT_EQ(config.Value("DDRCinfor", "ddrcRegAddr[39]"), 0u);
  EXPECT_EQ(config.Value("DDRInfo4", "cpuClk"), 0u);
}

// Section "PARTITION_SECTORS" as the profile service reads it: integers
// modulo 2^32 with 0 for anything missing, the label cut by a 12-character
// buffer.
TEST_F(BoardConfigTest, PartitionSectionReadsAsTheProfileServiceDoes) {
  struct Case {
    const char* name;
    std::string section;
    PartitionConfig expected;
  } const cases[] = {
      {"Plain",
       "Partition_Boot=65536\nPartition_Recovery=0x10000\nPartition_System=524288\n"
       "Partition_Data=1048576\nPartition_Cache=262144\nLABEL=TARNWICK\n",
       {65536, 65536, 524288, 1048576, 262144, "TARNWICK"}},
      {"WrapsAndDefaults",
       "Partition_Boot=-1\nPartition_Data=4294967296\nPartition_Cache=12abc\n",
       {0xFFFFFFFF, 0, 0, 0, 12, ""}},
      {"LongQuotedLabel", "LABEL=\"TARNWICK_CARD_LABEL\"\n", {0, 0, 0, 0, 0, "TARNWICK_CA"}},
      {"CaseOfNames", "partition_boot=7\nlabel=card\n", {7, 0, 0, 0, 0, "card"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read("[PARTITION_SECTORS]\r\n" + c.section).Partition(), c.expected) << c.name;
  }
}

TEST_F(BoardConfigTest, MissingFileReadsAsAllZero) {
  EXPECT_EQ(ReadBoardConfig(m_dir.File("no-such.ini")), BoardConfig{});
}

}  // namespace
}  // namespace tarnwick
