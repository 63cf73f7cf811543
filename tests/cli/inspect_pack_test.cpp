// inspect --config --pack: a card compared with what a burn of that
// configuration and pack writes, region by region.
#include <fstream>
#include <regex>

#include "cli_fixture.h"
#include "json_check.h"

namespace tarnwick::testing {
namespace {

class InspectPackCli : public CliTest {
 protected:
  struct Region {
    std::string name;
    uint64_t first = 0, sectors = 0;
  };

  CliRun Inspect(const std::string& extra = "") {
    return Cli("inspect card.img --config board.ini --pack board.pack " + extra);
  }

  std::vector<Region> Regions() {
    CliRun run = Inspect("--json");
    EXPECT_EQ(run.status, 0) << run.err;
    WriteFile(dir.File("inspect.json"), run.out);
    ExpectValidJson("inspect.schema.json", dir.File("inspect.json"));
    std::vector<Region> regions;
    const std::regex region(
        "\"name\": \"([^\"]+)\",\\s*\"firstSector\": ([0-9]+),\\s*\"sectors\": ([0-9]+)");
    for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), region);
         it != std::sregex_iterator(); ++it) {
      regions.push_back({(*it)[1], std::stoull((*it)[2]), std::stoull((*it)[3])});
    }
    return regions;
  }

  // Flips one byte of the card image at a sector.
  void Flip(uint64_t sector, size_t offset = 100) {
    std::fstream card(dir.File("card.img"), std::ios::in | std::ios::out | std::ios::binary);
    card.seekg(static_cast<std::streamoff>(sector * 512 + offset));
    const int byte = card.get();
    card.seekp(static_cast<std::streamoff>(sector * 512 + offset));
    card.put(static_cast<char>(byte ^ 0x5A));
  }

  void Zero(uint64_t first, uint64_t sectors) {
    std::fstream card(dir.File("card.img"), std::ios::in | std::ios::out | std::ios::binary);
    card.seekp(static_cast<std::streamoff>(first * 512));
    const std::string zeros(sectors * 512, '\0');
    card.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
};

TEST_F(InspectPackCli, EveryRegionOfABurnedCardIsTheSameAndOneChangedByteIsNamed) {
  PatternCard("card.img", 16 * kMiB);
  ASSERT_EQ(Burn("--target card.img").status, 0);
  CliRun same = Inspect();
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_NE(same.out.find("Comparison: the card holds what the burn writes"), std::string::npos);

  const std::vector<Region> regions = Regions();
  std::vector<std::string> names;
  for (const Region& r : regions) names.push_back(r.name);
  EXPECT_EQ(names, (std::vector<std::string>{"MBR",
                                             "BootInfo copy 0",
                                             "BootInfo copy 1",
                                             "BootInfo copy 2",
                                             "BootInfo copy 3",
                                             "boot loader copy 0",
                                             "boot loader copy 1",
                                             "UBootInfo",
                                             "BootImg",
                                             "BootRes",
                                             "BootRecover",
                                             "System",
                                             "Cache",
                                             "Data",
                                             "System EBR",
                                             "Data EBR",
                                             "Cache EBR",
                                             "Misc",
                                             "BootEnv",
                                             "FAT32 boot sector",
                                             "FAT32 FSInfo",
                                             "FAT32 reserved sectors",
                                             "FAT32 backup boot sector",
                                             "FAT32 backup FSInfo",
                                             "first FAT",
                                             "second FAT",
                                             "root directory",
                                             "root directory cluster"}));
  // Where the card model puts them.
  const Plan plan = PlanFor(16 * kMiB, setup);
  const std::map<std::string, uint64_t> placed = {{"MBR", 0},
                                                  {"BootInfo copy 0", plan.P()},
                                                  {"BootInfo copy 3", plan.P() + 3},
                                                  {"System EBR", plan.X()},
                                                  {"System", plan.X() + 63},
                                                  {"BootRecover", plan.R()},
                                                  {"FAT32 boot sector", 63}};
  for (const Region& r : regions) {
    if (const auto at = placed.find(r.name); at != placed.end()) {
      EXPECT_EQ(r.first, at->second) << r.name;
    }
  }

  for (const Region& r : regions) {
    // The middle of a run; the file system's reserved sectors are not one run.
    const uint64_t sector = r.sectors > 2 ? r.first + r.sectors / 2 : r.first;
    Flip(sector);
    CliRun changed = Inspect();
    EXPECT_EQ(changed.status, 1) << r.name;
    const std::string named = "first in " + r.name + " at sector " + std::to_string(sector);
    EXPECT_NE(changed.err.find(named), std::string::npos) << named << "\n" << changed.err;
    Flip(sector);
  }
  EXPECT_EQ(Inspect().status, 0);
}

TEST_F(InspectPackCli, AZeroedSystemPartitionIsConsistentButNotWhatThePackWrites) {
  PatternCard("card.img", 16 * kMiB);
  ASSERT_EQ(Burn("--target card.img").status, 0);
  const Plan plan = PlanFor(16 * kMiB, setup);
  Zero(plan.X() + 63, plan.logical[0]);
  EXPECT_EQ(Cli("inspect card.img --config board.ini").status, 0);
  CliRun run = Inspect();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("first in System at sector " + std::to_string(plan.X() + 63)),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("DIFFERS"), std::string::npos);
}

TEST_F(InspectPackCli, StagesSwitchedOffAreNotComparedAndSaidSo) {
  PatternCard("card.img", 16 * kMiB);
  WriteSettings("[Burn]\nBurnSystem=2\nBurnCache=2\n");
  ASSERT_EQ(Burn("--target card.img").status, 0);
  CliRun run = Inspect();
  EXPECT_EQ(run.status, 0) << run.err << run.out;
  EXPECT_NE(run.out.find("System: not compared, \"BurnSystem\"=2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Cache: not compared, \"BurnCache\"=2"), std::string::npos) << run.out;
  // The same card against every stage: the pattern left in System differs.
  WriteSettings("");
  CliRun all = Inspect();
  EXPECT_EQ(all.status, 1);
  EXPECT_NE(all.err.find("first in System"), std::string::npos) << all.err;
}

TEST_F(InspectPackCli, ACardNoBurnWouldWriteIsNotComparedAndSaysWhy) {
  PatternCard("card.img", 8 * kMiB);
  CliRun run = Inspect();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not compared with the pack: card of 16065 sectors is too small"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("would need at least"), std::string::npos) << run.err;
  EXPECT_EQ(Cli("inspect card.img --pack board.pack").status, 2);
}

}  // namespace
}  // namespace tarnwick::testing
