#include <algorithm>
#include <new>

#include "bootcfg/boot_info.h"
#include "burn_fixture.h"
#include "common/le.h"
#include "engine/burn_stages.h"
#include "engine/errors.h"

namespace tarnwick::testing {
namespace {

constexpr uint64_t kBootImgStart = 7'688'617;  // with a BootRes of 300,000 bytes
const std::string kDone = "烧写完成";

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

size_t IndexOf(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<size_t>(std::find(list.begin(), list.end(), item) - list.begin());
}

TEST_F(BurnFixture, NoCardWritesNothingAndEndsWithTheFinalMessage) {
  FakeCard& fixed = disks.AddCard("fixed", kExampleCylinders);
  fixed.geometry.MediaType = kFixedMedia;
  Run();
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "box " + std::string(kNoCardFoundText),
                                                 "box " + kDone}));
  EXPECT_TRUE(disks.events.empty());
  EXPECT_FALSE(engine->WaitDevice());
  EXPECT_EQ(engine->LastRun().cardsFound, 0);
}

TEST_F(BurnFixture, DebugLogOfOneCardLineForLine) {
  disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(log,
            "m_arrStartSector: [0x3f 0x582659 0x742758 0x752758]\n"
            "m_arrTotalSectors: [0x58261a 0x1c00bd 0x10000 0x10000]\n"
            "m_arrEpTotalSector: [0x7ffc1 0xfffc1 0x3ffc1]\n"
            "m_tMBR.Partition[0]: [0x3f 0x58261a]\n"
            "m_tMBR.Partition[1]: [0x582659 0x1c00bd]\n"
            "m_tMBR.Partition[2]: [0x742758 0x10000]\n"
            "m_tMBR.Partition[3]: [0x752758 0x10000]\n"
            "WriteSector: MBR: [0x0, 0x1]\n"
            "WrtieSector: BootInfo[0x0]: [0x752758, 0x1]\n"
            "WrtieSector: BootInfo[0x1]: [0x752759, 0x1]\n"
            "WrtieSector: BootInfo[0x2]: [0x75275a, 0x1]\n"
            "WrtieSector: BootInfo[0x3]: [0x75275b, 0x1]\n"
            "WrtieSector: UBootBin[0x0]: [0x752768, 0x2]\n"
            "WrtieSector: UBootBin[0x1]: [0x75276a, 0x2]\n"
            "WrtieSector: UBootInfo: [0x75275c, 0x4]\n"
            "WrtieSector: BootImg: [0x7551a9, 0x9]\n"
            "WrtieSector: BootRes: [0x754f5c, 0x24a]\n"
            "WrtieSector: BootRecover: [0x742758, 0x1]\n"
            "WrtieSector: System: [0x582698, 0xa]\n"
            "WrtieSector: Cache: [0x702698, 0x2]\n"
            "WrtieSector: Data: [0x602698, 0x3]\n"
            "WrtieSector: EBRSystem: [0x582659, 1]\n"
            "WrtieSector: EBRData: [0x602659, 1]\n"
            "WrtieSector: EBRCache: [0x702659, 1]\n"
            "WrtieSector: Misc: [0x752760, 8]\n"
            "WrtieSector: BootEnv: [0x754758, 0x801]\n"
            "WrtieSector: DBR: [0x3f, 1]\n"
            "WrtieSector: nFatLen: 0x2bfe\n"
            "WrtieSector: FirstFATSector: [0x61, 1]\n"
            "WrtieSector: SecondFATSector: [0x1660, 1]\n"
            "WrtieSector: FirstDirSector: [0x2c5f, 1]\n"
            "BurnToOneSD: Write ok\n");
}

// What each region holds is checked byte for byte on burned card images (the
// command-line tests); here the run around one card and the region edges.
TEST_F(BurnFixture, OneCardIsFlushedAndClosedWithProgressAndTheFinalMessage) {
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  ASSERT_EQ(engine->LastRun().cardsWritten, 1);
  EXPECT_EQ(op.progress, Range(1, 15));
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "box " + kDone}));
  EXPECT_FALSE(engine->WaitDevice());
  EXPECT_EQ(disks.events, (std::vector<std::string>{"open card", "flush card", "close card"}));
  // Two boot loader copies of two sectors each from P + 16, and nothing after them.
  EXPECT_EQ(card.ReadBytes(kP + 18, 1024), Expected(PackSlot::UBootBin, 2));
  EXPECT_FALSE(card.Written(kP + 20));
  EXPECT_EQ(card.WrittenIn(kP + 10241, 3), 0u);
  EXPECT_EQ(card.WrittenIn(kP + kBootResOffset + 586, 3), 0u);
  EXPECT_FALSE(card.Written(kBootImgStart + 9));
  EXPECT_FALSE(card.Written(kR + 1));
  for (uint64_t ebr : {kX, kX + kL1, kX + kL2}) EXPECT_EQ(card.WrittenIn(ebr + 1, 62), 0u) << ebr;
}

TEST_F(BurnFixture, CardsAreBurnedInSlotOrderEachWithItsOwnPlan) {
  disks.AddSlot("drive1").exists = false;
  disks.AddCard("drive2", kExampleCylinders);
  disks.AddSlot("drive3").exists = false;
  disks.AddSlot("drive4").exists = false;
  disks.AddCard("drive5", 600);  // 9,639,000 sectors
  Run();
  EXPECT_EQ(engine->LastRun().cardsWritten, 2);
  EXPECT_LT(IndexOf(disks.events, "close drive2"), IndexOf(disks.events, "open drive5"));
  EXPECT_EQ(IndexOf(disks.events, "open drive5"), IndexOf(disks.events, "close drive2") + 1);
  // The second card's Boot partition lies where its own size puts it.
  constexpr uint64_t kP5 = 9'573'464;
  EXPECT_EQ(GetU32(disks.Card(1).Read(0).data(), 446 + 3 * 16 + 8), kP);
  EXPECT_EQ(GetU32(disks.Card(4).Read(0).data(), 446 + 3 * 16 + 8), kP5);
  EXPECT_TRUE(disks.Card(4).Written(kP5 + 16));
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 2u);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "box " + kDone}));
}

// The configuration is read afresh for each card: edited while the first
// card is written, it makes the second card's plan, BootInfo and tables.
TEST_F(BurnFixture, ConfigurationEditedBetweenCardsIsSeenByTheSecond) {
  disks.AddCard("drive1", kExampleCylinders);
  disks.AddCard("drive2", kExampleCylinders);
  int dataStages = 0;
  settings.onRead = [&](const std::string& key) {
    if (key != "BurnData" || ++dataStages != 1) return;
    config["PARTITION_SECTORS"]["Partition_Boot"] = "65544";  // 8 sectors more
    config["AddrInfo"]["goAddr"] = "0x1234";
    config["DDRInfo0"]["cpuClk"] = "0x5678";
    WriteInputs();
  };
  Run();
  EXPECT_EQ(engine->LastRun().cardsWritten, 2);
  const uint64_t p2 = kP - 8;  // the larger Boot room takes 8 sectors from FAT32
  EXPECT_EQ(GetU32(disks.Card(0).Read(0).data(), 446 + 3 * 16 + 8), kP);
  EXPECT_EQ(GetU32(disks.Card(1).Read(0).data(), 446 + 3 * 16 + 8), p2);
  EXPECT_EQ(GetU32(disks.Card(0).Read(kP).data(), bootinfo::kGoAddr), 0u);
  EXPECT_EQ(GetU32(disks.Card(1).Read(p2).data(), bootinfo::kGoAddr), 0x1234u);
  EXPECT_EQ(GetU32(disks.Card(0).Read(kP + kUBootInfoOffset).data(), ubootinfo::kDdrInfo), 0u);
  EXPECT_EQ(GetU32(disks.Card(1).Read(p2 + kUBootInfoOffset).data(), ubootinfo::kDdrInfo), 0x5678u);
}

struct StageSwitchCase {
  const char* key;
  int value;
  uint64_t first;  // the stage's first sector
  const char* line;
};

void PrintTo(const StageSwitchCase& c, std::ostream* os) {
  *os << c.key << "=" << c.value;
}

class StageSwitch : public BurnFixture, public ::testing::WithParamInterface<StageSwitchCase> {};

TEST_P(StageSwitch, TwoSkipsTheWriteAndKeepsEverythingElse) {
  const StageSwitchCase& c = GetParam();
  settings.values[c.key] = c.value;
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(Count(c.line), 1u);
  EXPECT_EQ(card.Written(c.first), c.value != 2);
  EXPECT_EQ(op.progress, Range(1, 15));
  for (uint64_t ebr : {kX, kX + kL1, kX + kL2}) EXPECT_TRUE(card.Written(ebr));
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 1u);
  EXPECT_EQ(std::count(settings.reads.begin(), settings.reads.end(), std::string("Burn/") + c.key),
            1);
}

INSTANTIATE_TEST_SUITE_P(
    Burn, StageSwitch,
    ::testing::Values(
        StageSwitchCase{"BurnBootImg", 2, kBootImgStart, "WrtieSector: BootImg: [0x7551a9, 0x9]\n"},
        StageSwitchCase{"BurnBootRes", 2, kP + kBootResOffset,
                        "WrtieSector: BootRes: [0x754f5c, 0x24a]\n"},
        StageSwitchCase{"BurnBootRecover", 2, kR, "WrtieSector: BootRecover: [0x742758, 0x1]\n"},
        StageSwitchCase{"BurnSystem", 2, kX + 63, "WrtieSector: System: [0x582698, 0xa]\n"},
        StageSwitchCase{"BurnCache", 2, kX + kL2 + 63, "WrtieSector: Cache: [0x702698, 0x2]\n"},
        StageSwitchCase{"BurnData", 2, kX + kL1 + 63, "WrtieSector: Data: [0x602698, 0x3]\n"},
        StageSwitchCase{"BurnSystem", 0, kX + 63, "WrtieSector: System: [0x582698, 0xa]\n"},
        StageSwitchCase{"BurnSystem", 1, kX + 63, "WrtieSector: System: [0x582698, 0xa]\n"},
        StageSwitchCase{"BurnSystem", 3, kX + 63, "WrtieSector: System: [0x582698, 0xa]\n"}));

TEST_F(BurnFixture, NoBootLoaderCopiesWhenImageStoreNumIsZero) {
  config["imageStoreInfor"]["imageStoreNum"] = "0";
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(log.find("UBootBin["), std::string::npos);
  EXPECT_EQ(card.WrittenIn(kP + kFirstCopySector, kLoaderAreaEnd - kFirstCopySector), 0u);
  EXPECT_EQ(card.WrittenIn(kP, 8), 8u);  // BootInfo copies and UBootInfo
  EXPECT_EQ(op.progress, Range(1, 15));
}

TEST_F(BurnFixture, EmptyBootResIsOneZeroSectorAndBootImgFollowsFourLater) {
  images[PackSlot::BootRes] = {};
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(Count("WrtieSector: BootRes: [0x754f5c, 0x1]\n"), 1u);
  EXPECT_EQ(Count("WrtieSector: BootImg: [0x754f60, 0x9]\n"), 1u);
  EXPECT_EQ(card.ReadBytes(kP + kBootResOffset, 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(card.WrittenIn(kP + 10245, 3), 0u);
}

// An empty BootRecover in a Recovery partition of size 0 would zero the first
// BootInfo copy, which shares its sector: nothing is written for it.
TEST_F(BurnFixture, EmptyRecoveryImageInAnEmptyPartitionWritesNothing) {
  images[PackSlot::BootRecover] = {};
  config["PARTITION_SECTORS"]["Partition_Recovery"] = "0";
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(Count("WrtieSector: BootRecover: [0x752758, 0x0]\n"), 1u);
  const BootInfo& bootInfo = engine->BootInfoRecord();
  EXPECT_TRUE(std::equal(bootInfo.begin(), bootInfo.end(), card.Read(kP).begin()));
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 1u);
}

TEST_F(BurnFixture, RefusedCardIsLeftUntouchedAndTheRunGoesOn) {
  disks.AddCard("small", 10);  // 160,650 sectors: less than the configured partitions
  FakeCard& good = disks.AddCard("good", kExampleCylinders);
  Run();
  const std::string reason =
      "card of 160650 sectors is too small for the configured partitions (section "
      "\"PARTITION_SECTORS\")";
  EXPECT_EQ(Count("BurnToOneSD: " + reason + "\n"), 1u);
  EXPECT_TRUE(disks.Card(0).sectors.empty());
  EXPECT_EQ(IndexOf(disks.events, "open small"), disks.events.size());
  EXPECT_TRUE(good.Written(0));
  EXPECT_EQ(op.progress, Range(1, 15));  // the refused card never moved the bar
  const RunSummary& run = engine->LastRun();
  EXPECT_EQ(run.cardsWritten, 1);
  EXPECT_EQ(run.cardsRefused, 1);
  ASSERT_EQ(op.failedReports.size(), 1u);
  ASSERT_EQ(op.failedReports[0].size(), 1u);
  EXPECT_EQ(op.failedReports[0][0].slot, 0);
  EXPECT_EQ(op.failedReports[0][0].device, "small");
  // The operator is also told the size the card would need; the log line stays as it was.
  EXPECT_EQ(op.failedReports[0][0].reason,
            reason + "; the card would need at least 1975995 sectors (1011709440 bytes)" +
                "; configuration file " + cfgFile);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1", "box " + kDone}));
}

TEST_F(BurnFixture, MissingPackIsReportedForEveryCardAndNothingIsWritten) {
  disks.AddCard("a", kExampleCylinders);
  disks.AddCard("b", kExampleCylinders);
  WriteInputs();
  MakeEngine();
  engine->SetPackFile(dir.File("absent.pak"));
  LogCapture quiet;
  engine->RunBurn();
  EXPECT_EQ(op.Texts(), (std::vector<std::string>{"open file fail!", "open file fail!", kDone}));
  EXPECT_EQ(op.events.back(), "box " + kDone);
  EXPECT_EQ(op.events[op.events.size() - 2], "report 2");
  // The pack is at fault, not the cards: every card's reason names the pack.
  ASSERT_EQ(op.failedReports.size(), 1u);
  for (const FailedCard& card : op.failedReports[0]) {
    EXPECT_EQ(card.reason.rfind("pack file " + dir.File("absent.pak") + " cannot be opened: ", 0),
              0u)
        << card.reason;
  }
  EXPECT_TRUE(disks.events.empty());
  EXPECT_EQ(engine->LastRun().cardsRefused, 2);
}

// A write failure ends that card where it happened: what came before stays,
// nothing after is written, the card is closed, the next card is burned, and
// the operator sees the failed card before the final message.
struct FailureCase {
  const char* name;     // a region, or "Flush": the flush fails
  uint64_t failSector;  // a sector of the region whose write fails
  int lastProgress;
};

// One case per region, in write order, then the formatter's last write (the
// end of cluster 2) and the flush.
const FailureCase kFailures[] = {{"MBR", 0, 1},
                                 {"BootInfo", kP + 2, 2},
                                 {"UBootBin", kP + 18, 3},
                                 {"UBootInfo", kP + kUBootInfoOffset, 4},
                                 {"BootImg", kBootImgStart, 5},
                                 {"BootRes", kP + kBootResOffset, 6},
                                 {"BootRecover", kR, 7},
                                 {"System", kX + 63, 8},
                                 {"Cache", kX + kL2 + 63, 9},
                                 {"Data", kX + kL1 + 63, 10},
                                 {"EBRSystem", kX, 11},
                                 {"EBRData", kX + kL1, 11},
                                 {"EBRCache", kX + kL2, 11},
                                 {"Misc", kP + kMiscOffset, 12},
                                 {"BootEnv", kP + kBootEnvOffset + 2048, 13},
                                 {"FAT32", 63, 14},
                                 {"FAT32", 11'360, 14},
                                 {"Flush", 0, 15}};
constexpr size_t kRegions = 16;

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name << " at " << c.failSector;
}

class WriteFailure : public BurnFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WriteFailure, EndsTheCardAndTheRunGoesOn) {
  const FailureCase& c = GetParam();
  const std::string name = c.name;
  const bool flush = name == "Flush";
  const std::string line = "BurnToOneSD: " +
                           (flush             ? "Flush"
                            : name == "FAT32" ? "Format FAT32"
                                              : "Write " + name) +
                           " failed\n";
  FakeCard& bad = disks.AddCard("bad", kExampleCylinders);
  disks.AddCard("next", kExampleCylinders);
  bad.failFlush = flush;
  if (!flush) bad.failAtSector = c.failSector;
  Run();

  EXPECT_EQ(Count(line), 1u);
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 1u);  // the next card only
  std::vector<int> expected = Range(1, c.lastProgress);
  for (int p : Range(1, 15)) expected.push_back(p);
  EXPECT_EQ(op.progress, expected);

  bool before = true;  // regions before the failing one are written, those after are not
  for (size_t i = 0; i < kRegions; ++i) {
    if (kFailures[i].name == name) {
      before = false;
    } else {
      EXPECT_EQ(bad.Written(kFailures[i].failSector), before || flush) << kFailures[i].name;
    }
  }
  EXPECT_TRUE(flush || !bad.Written(c.failSector));
  EXPECT_EQ(IndexOf(disks.events, "open next"), IndexOf(disks.events, "close bad") + 1);
  EXPECT_TRUE(disks.Card(1).Written(0));

  ASSERT_EQ(op.failedReports.size(), 1u);
  ASSERT_EQ(op.failedReports[0].size(), 1u);
  EXPECT_EQ(op.failedReports[0][0].device, "bad");
  EXPECT_EQ("BurnToOneSD: " + op.failedReports[0][0].reason + "\n", line);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1", "box " + kDone}));
  EXPECT_EQ(engine->LastRun().cardsWritten, 1);
  EXPECT_EQ(engine->LastRun().cardsRefused, 0);
}

INSTANTIATE_TEST_SUITE_P(Burn, WriteFailure, ::testing::ValuesIn(kFailures));

// The board's own disk, recorded when the download started, is left out of
// the next discovery only, and only that appearance of it: the same name
// with another instance is a card like any other.
TEST_F(BurnFixture, BoardsOwnDiskIsLeftOutOfTheNextDiscoveryOnly) {
  struct Case {
    const char* name;
    std::vector<std::string> leaveOut;
    std::string boardInstance;  // the instance the "board" slot shows now
    bool burned;
  };
  const Case cases[] = {
      {"still the board's disk", {"diskseq 5"}, "diskseq 5", false},
      {"a new appearance", {"diskseq 5"}, "diskseq 9", true},
      {"nothing recorded", {}, "diskseq 5", true},
      {"the system cannot tell", {"diskseq 5"}, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDiskService fresh;
    FakeOperator freshOp;
    CBurnEngine burn(fresh, freshOp, settings);
    WriteInputs();
    burn.SetCfgFile(cfgFile);
    burn.SetPackFile(packFile);
    fresh.AddCard("board", kExampleCylinders).instance = c.boardInstance;
    fresh.AddCard("card", kExampleCylinders).instance = "diskseq 6";
    burn.LeaveOutOfNextDiscovery(c.leaveOut);
    LogCapture capture;
    burn.RunBurn();
    EXPECT_EQ(fresh.Card(0).Written(0), c.burned);
    EXPECT_TRUE(fresh.Card(1).Written(0));
    EXPECT_EQ(capture.Text().find("DetectCards: board is the board's own disk (diskseq 5), left "
                                  "out\n") != std::string::npos,
              !c.burned);
    // The next run sees every disk again.
    burn.RunBurn();
    EXPECT_EQ(burn.LastRun().cardsWritten, 2);
  }
}

// A card image deleted while it was burned: the card fails, never "Write ok".
TEST_F(BurnFixture, CardImageGoneWhileBurnedFailsTheCard) {
  disks.AddCard("gone", kExampleCylinders).deletedWhileWritten = true;
  disks.AddCard("next", kExampleCylinders);
  Run();
  EXPECT_EQ(Count("BurnToOneSD: the card image was deleted while it was written\n"), 1u);
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 1u);  // the next card only
  ASSERT_EQ(op.failedReports.size(), 1u);
  EXPECT_EQ(op.failedReports[0][0].device, "gone");
  EXPECT_EQ(op.failedReports[0][0].reason, "the card image was deleted while it was written");
  EXPECT_EQ(engine->LastRun().cardsWritten, 1);
}

// A pack read the system refuses or a lack of memory ends the run at once;
// the card in hand is closed, the controls come back and the error is shown.
struct AbortCase {
  std::function<void()> raise;
  const char* text;
};

void PrintTo(const AbortCase& c, std::ostream* os) {
  *os << c.text;
}

class RunAbort : public BurnFixture, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(RunAbort, ReEnablesTheControlsAndShowsTheError) {
  // Raised once the System stage is done: the card in hand is half written.
  op.onProgress = [&](int position) {
    if (position == StageInfo(BurnStage::System).progress) GetParam().raise();
  };
  disks.AddCard("first", kExampleCylinders);
  disks.AddCard("second", kExampleCylinders);
  Run();
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1",
                                                 "box " + std::string(GetParam().text)}));
  ASSERT_EQ(op.failedReports.size(), 1u);
  EXPECT_EQ(op.failedReports[0][0].device, "first");
  EXPECT_EQ(op.failedReports[0][0].reason, GetParam().text);
  EXPECT_EQ(engine->LastRun().cardsRefused, 0);
  EXPECT_EQ(disks.events.back(), "close first");
  EXPECT_EQ(IndexOf(disks.events, "open second"), disks.events.size());
  EXPECT_TRUE(engine->LastRun().aborted);
  EXPECT_EQ(engine->LastRun().abortReason, GetParam().text);
  EXPECT_FALSE(engine->WaitDevice());
}

INSTANTIATE_TEST_SUITE_P(
    Burn, RunAbort,
    ::testing::Values(AbortCase{[] { throw FileError("pack read refused"); }, "pack read refused"},
                      AbortCase{[] { throw MemoryError("out of memory"); }, "out of memory"},
                      AbortCase{[] { throw std::bad_alloc(); },
                                "not enough memory to burn the card"}));

// A stage switched off writes nothing, so its image is checked neither
// against its room nor against the pack's end; switched on, the same image
// refuses the card untouched.
struct StageOffCase {
  const char* name;
  const char* key;
  int value;
  bool pastPackEnd;     // the image's length in the header reaches past the file
  const char* refusal;  // empty: the card is written
};

void PrintTo(const StageOffCase& c, std::ostream* os) {
  *os << c.name;
}

class StageOff : public BurnFixture, public ::testing::WithParamInterface<StageOffCase> {};

TEST_P(StageOff, OnlyImagesThatAreWrittenAreChecked) {
  const StageOffCase& c = GetParam();
  settings.values[c.key] = c.value;
  // A System room of 200 - 63 sectors, too small for 100,000 bytes.
  config["PARTITION_SECTORS"]["Partition_System"] = "200";
  images[PackSlot::System] = PatternBytes(c.pastPackEnd ? 5000 : 100'000, 4);
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  WriteInputs();
  if (c.pastPackEnd) {
    // The Data image's length says 64 MiB, far past the end of the file.
    std::vector<uint8_t> pack = ReadFileBytes(packFile);
    PutU32(pack.data(), PackSlotOffset(PackSlot::Data) + 4, 64u << 20);
    WriteFile(packFile, pack);
  }
  MakeEngine();
  LogCapture capture;
  engine->RunBurn();
  if (*c.refusal == '\0') {
    EXPECT_EQ(engine->LastRun().cardsWritten, 1);
    EXPECT_TRUE(card.Written(0));
    EXPECT_TRUE(op.failedReports.empty());
  } else {
    EXPECT_EQ(engine->LastRun().cardsRefused, 1);
    EXPECT_TRUE(card.sectors.empty());
    ASSERT_EQ(op.failedReports.size(), 1u);
    EXPECT_NE(op.failedReports[0][0].reason.find(c.refusal), std::string::npos)
        << op.failedReports[0][0].reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Burn, StageOff,
    ::testing::Values(StageOffCase{"SystemOffTooLarge", "BurnSystem", 2, false, ""},
                      StageOffCase{"SystemOnTooLarge", "BurnSystem", 1, false,
                                   "System of 100000 bytes"},
                      StageOffCase{"DataOffPastPackEnd", "BurnData", 2, true, ""},
                      StageOffCase{"DataOnPastPackEnd", "BurnData", 0, true, "Data image (offset"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
