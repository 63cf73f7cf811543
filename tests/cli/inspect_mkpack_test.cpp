// tarnwick-cli inspect accepts what a burn writes and rejects a card with one
// damaged byte in a checked record; mkpack builds the pack the burn reads.
#include <cstdio>
#include <fstream>

#include "cli_fixture.h"
#include "layout/card_layout.h"

namespace tarnwick::testing {
namespace {

class InspectCli : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    PatternCard("card.img", 16 * kMiB);
    ASSERT_EQ(Burn("--target card.img").status, 0);
    plan = PlanFor(16 * kMiB, setup);
  }

  // XORs one byte of the card image in place.
  void Flip(uint64_t sector, uint32_t offset, uint8_t mask) {
    std::fstream f(dir.File("card.img"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(sector * 512 + offset));
    char c = 0;
    f.get(c);
    f.seekp(static_cast<std::streamoff>(sector * 512 + offset));
    f.put(static_cast<char>(c ^ mask));
    ASSERT_TRUE(f.good());
  }

  Plan plan;
};

TEST_F(InspectCli, AcceptsABurnedCardAndReportsItsLayout) {
  CliRun run = Cli("inspect card.img --config board.ini");
  EXPECT_EQ(run.status, 0) << run.out;
  for (const char* line :
       {"Result: consistent", "four identical copies, magic KDFUUFDK", "copy 1 at sector",
        "volume label \"DATA       \"", "entry 3: type 0xBB"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }
}

TEST_F(InspectCli, RejectsOneDamagedByteInAnyCheckedRecord) {
  const uint64_t p = plan.P(), fatSz = Fat32FatSectors(plan.total[0]);
  struct Case {
    const char* name;
    uint64_t sector;
    uint32_t offset;
    const char* says;
  };
  const Case cases[] = {
      {"BootInfo copy 0, DRAM settings", p, 100, "BootInfo"},
      {"BootInfo copy 3, magic", p + 3, 0, "BootInfo copy 3"},
      {"BootInfo copy 2, infoCrc", p + 2, 509, "BootInfo copy 2"},
      {"UBootInfo location header", p + 4, 10, "UBootInfo"},
      {"UBootInfo DDR table", p + 5, 200, "uBootInfoCrc"},
      {"UBootInfo CRC", p + 7, 1737 - 1536, "uBootInfoCrc"},
      {"UBootInfo tail beyond its CRC", p + 7, 1800 - 1536, "1740-2047"},
      {"boot loader copy 0", p + kFirstCopySector, 5, "boot loader copy 0"},
      {"boot loader copy 1, zero padding", p + 19, 511, "boot loader copy 1"},
      {"Data EBR link", plan.X() + plan.slot[0], 470, "EBR"},
      {"FAT32 boot sector", 63, 36, "FAT"},
      {"FAT32 backup boot sector", 69, 3, "backup boot sector"},
      {"FSInfo", 64, 0, "FSInfo"},
      {"second FAT", 97 + fatSz, 0, "second FAT"},
      {"volume label attribute", 97 + 2 * fatSz, 11, "volume label"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Flip(c.sector, c.offset, 0x01);
    CliRun run = Cli("inspect card.img");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    Flip(c.sector, c.offset, 0x01);
    EXPECT_EQ(Cli("inspect card.img").status, 0);
  }
}

// Bytes 440-511 (signature, entries, boot signature): any change is found; a
// change of a partition size within its rounding needs the configuration.
TEST_F(InspectCli, RejectsEveryChangeOfTheMbrTail) {
  struct Mode {
    uint8_t mask;
    const char* args;
  };
  for (const Mode& m :
       {Mode{0xFF, "inspect card.img"}, Mode{0x01, "inspect card.img --config board.ini"}}) {
    for (uint32_t offset = 440; offset < 512; ++offset) {
      SCOPED_TRACE(offset);
      Flip(0, offset, m.mask);
      EXPECT_EQ(Cli(m.args).status, 1) << m.args;
      Flip(0, offset, m.mask);
    }
  }
  EXPECT_EQ(Cli("inspect card.img --config board.ini").status, 0);
}

// Bytes of a crafted card never reach the terminal raw, and a chain of EBRs
// that leads back to itself is named as a loop.
TEST_F(InspectCli, CraftedLabelIsEscapedAndALoopingChainIsNamed) {
  const uint64_t dirSector = 97 + 2 * Fat32FatSectors(plan.total[0]);
  const std::string label = "\x1b[31mEVIL\x07\\";  // 11 bytes
  {
    std::fstream f(dir.File("card.img"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(dirSector * 512));
    f.write(label.data(), 11);
    // The System EBR's link (entry 1, first sector) made 0: back to itself.
    const char zero[4] = {};
    f.seekp(static_cast<std::streamoff>(plan.X() * 512 + 446 + 16 + 8));
    f.write(zero, 4);
    ASSERT_TRUE(f.good());
  }
  CliRun run = Cli("inspect card.img --config board.ini");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(run.out.find('\x07'), std::string::npos);
  EXPECT_NE(run.out.find("volume label \"\\x1b[31mEVIL\\x07\\\\\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("EBR chain loops: the link of the System EBR leads back to the EBR at "
                         "sector " +
                         std::to_string(plan.X())),
            std::string::npos)
      << run.out;
}

TEST_F(InspectCli, BootCodeIsFreeAndAnUnburnedCardIsRejected) {
  Flip(0, 17, 0xFF);
  EXPECT_EQ(Cli("inspect card.img").status, 0);
  PatternCard("blank.img", 16 * kMiB);
  CliRun run = Cli("inspect blank.img");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("NOT consistent"), std::string::npos) << run.out;
}

using MkpackCli = CliTest;

TEST_F(MkpackCli, PackHoldsEveryImageAtItsSlotAndOmittedImagesAreEmpty) {
  ASSERT_EQ(Cli("mkpack --out two.pack --system system.bin --bootres bootres.bin").status, 0);
  const std::pair<int, const Bytes*> full[] = {
      {0, &images.dfu},    {1, &images.uboot}, {2, &images.bootimg}, {3, &images.bootrecover},
      {4, &images.system}, {5, &images.data},  {6, &images.cache},   {8, &images.bootres}};
  struct Pack {
    const char* file;
    std::vector<std::pair<int, const Bytes*>> slots;
  };
  const Pack packs[] = {
      {"board.pack", {std::begin(full), std::end(full)}},
      {"two.pack", {{4, &images.system}, {8, &images.bootres}}},
  };
  for (const Pack& pack : packs) {
    SCOPED_TRACE(pack.file);
    Bytes bytes = ReadFileBytes(dir.File(pack.file));
    ASSERT_GE(bytes.size(), 392u);
    auto u32 = [&](size_t at) {
      return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
             uint32_t{bytes[at + 3]} << 24;
    };
    for (int slot = 0; slot < 9; ++slot) {
      SCOPED_TRACE(slot);
      const Bytes* want = nullptr;
      for (const auto& [s, image] : pack.slots) {
        if (s == slot) want = image;
      }
      uint32_t offset = u32(0x78 + 0x20 * slot), length = u32(0x7C + 0x20 * slot);
      if (!want || want->empty()) {
        EXPECT_EQ(length, 0u);
        continue;
      }
      EXPECT_EQ(offset % 512, 0u);
      ASSERT_EQ(length, want->size());
      ASSERT_LE(uint64_t{offset} + length, bytes.size());
      EXPECT_TRUE(std::equal(want->begin(), want->end(), bytes.begin() + offset));
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing
