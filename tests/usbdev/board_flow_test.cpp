#include "usbdev/board_flow.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "board_rig.h"
#include "bootcfg/boot_info.h"
#include "burn_inputs.h"
#include "common/debug_log.h"
#include "common/le.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::FakeClock;
using testing::FakeOperator;
using testing::TempDir;
using Texts = std::vector<std::string>;

const char kBurnDone[] = "烧写完成";
const char kNoBoard[] = "Can't find udisk. please make sure udisk is ok.";
constexpr uint32_t kDeviceRemoveComplete = 0x8004;

// Notices the test posts, as the system would, on top of the simulated board's.
class TestEvents : public IDeviceEventSource {
 public:
  explicit TestEvents(SimBoardBus& board, IClock& clock) : m_board(board), m_clock(clock) {}
  void Collect(DeviceEventQueue& queue) override {
    m_board.Collect(queue);
    for (DeviceNotice& n : posted) queue.Post(std::move(n));
    posted.clear();
  }
  void Wait(std::chrono::milliseconds limit) override {
    ++waits;
    m_clock.SleepFor(limit);
  }
  std::vector<DeviceNotice> posted;
  int waits = 0;

 private:
  SimBoardBus& m_board;
  IClock& m_clock;
};

class BoardFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.SetCfgFile(std::string(TARNWICK_SOURCE_DIR) + "/examples/board.ini");
    engine.SetPackFile(
        testing::WritePack(dir, {{PackSlot::Dfu, testing::PatternBytes(3000, 1)},
                                 {PackSlot::UBootBin, testing::PatternBytes(5000, 2)}}));
    bus.SetCardPresenter([this](const std::string& card) { ASSERT_TRUE(disks.AddImage(card)); });
  }

  SimDeviceConfig Board() {
    SimDeviceConfig board;
    board.receivedPath = dir.File("received.bin");
    board.cardPath = dir.File("card.img");
    board.cardBytes = 4ull << 30;
    return board;
  }

  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (const auto& t : op.Texts()) n += t == text;
    return n;
  }

  LogCapture quiet;
  TempDir dir;
  FakeClock clock;
  FakeOperator op;
  testing::ZeroSettings settings;
  ImageDiskService disks;
  SimBoardBus bus{clock};
  TestEvents events{bus, clock};
  CBurnEngine engine{disks, op, settings};
  CDfuDownloader downloader{bus, op};
  CBoardFlow flow{engine, downloader, events};
};

TEST_F(BoardFlowTest, ArrivalDuringTheDownloadIsHandledAfterIt) {
  bus.AddDevice(Board());
  flow.OnBurnBoardMode();
  // The card is there and its notice is queued, but nothing burns inside the handler.
  EXPECT_TRUE(bus.CardPresented(0));
  EXPECT_TRUE(engine.WaitDevice());
  EXPECT_EQ(Count(kBurnDone), 0u);
  EXPECT_EQ(flow.BurnRunsStarted(), 0);

  flow.DispatchPending();
  EXPECT_FALSE(engine.WaitDevice());
  EXPECT_EQ(flow.BurnRunsStarted(), 1);
  EXPECT_EQ(op.Texts(), Texts{kBurnDone});
  EXPECT_EQ(engine.LastRun().cardsFound, 1);
  EXPECT_EQ(engine.LastRun().cardsWritten, 1);

  // The package as sent, and a card that now holds a partition table.
  EXPECT_EQ(testing::ReadFileBytes(dir.File("received.bin")), bus.Received(0));
  EXPECT_EQ(bus.Received(0).size(), (3000u + 1024u) & ~511u);
  std::vector<uint8_t> mbr(512);
  std::ifstream card(dir.File("card.img"), std::ios::binary);
  ASSERT_TRUE(card.read(reinterpret_cast<char*>(mbr.data()), 512));
  EXPECT_EQ(GetU16(mbr.data(), 510), 0xAA55);
}

// The boards' own disks are recorded as the download starts, where the bus
// can tell, and handed to the burn's next discovery to leave out.
TEST_F(BoardFlowTest, BoardDisksAreLeftOutOfTheDiscoveryAfterTheDownload) {
  SimDeviceConfig first = Board();
  first.diskInstance = "diskseq 3";
  SimDeviceConfig second = Board();
  second.presentsCard = false;
  SimDeviceConfig third = Board();
  third.presentsCard = false;
  third.diskInstance = "diskseq 8";
  bus.AddDevice(first);
  bus.AddDevice(second);  // its disk cannot be told
  bus.AddDevice(third);
  flow.OnBurnBoardMode();
  EXPECT_EQ(downloader.LastDownload().boardDisks, (Texts{"diskseq 3", "diskseq 8"}));
  EXPECT_EQ(engine.LeftOutOfNextDiscovery(), (Texts{"diskseq 3", "diskseq 8"}));
  flow.DispatchPending();
  EXPECT_EQ(engine.LastRun().cardsWritten, 1);
  EXPECT_TRUE(engine.LeftOutOfNextDiscovery().empty());
}

// udev tells a busy system's arrivals late: the board's own arrival can come
// in after its download. That appearance is not the card; the next one is.
TEST_F(BoardFlowTest, LateArrivalOfTheBoardsOwnDiskIsNotTheCard) {
  SimDeviceConfig board = Board();
  board.presentsCard = false;
  board.diskInstance = "diskseq 3";
  bus.AddDevice(board);
  flow.OnBurnBoardMode();
  events.posted.push_back({kDeviceArrival, "/dev/sda", "diskseq 3"});
  flow.DispatchPending();
  EXPECT_EQ(flow.BurnRunsStarted(), 0);
  EXPECT_TRUE(engine.WaitDevice());

  events.posted.push_back({kDeviceArrival, "/dev/sda", "diskseq 4"});
  flow.DispatchPending();
  EXPECT_EQ(flow.BurnRunsStarted(), 1);
  EXPECT_FALSE(engine.WaitDevice());
}

TEST_F(BoardFlowTest, OnlyTheFirstArrivalWhileWaitingStartsARun) {
  struct Case {
    const char* name;
    bool waiting;
    std::vector<uint32_t> events;
    int runs;
  };
  const Case cases[] = {
      {"arrival while idle", false, {kDeviceArrival}, 0},
      {"other notices while waiting", true, {kDeviceRemoveComplete, 0x0007}, 0},
      {"two arrivals while waiting", true, {kDeviceArrival, kDeviceArrival}, 1},
      {"removal then arrival", true, {kDeviceRemoveComplete, kDeviceArrival}, 1},
  };
  for (const Case& c : cases) {
    FakeOperator caseOp;
    ImageDiskService noCards;
    CBurnEngine caseEngine(noCards, caseOp, settings);
    CDfuDownloader caseDownloader(bus, caseOp);
    TestEvents caseEvents(bus, clock);
    CBoardFlow caseFlow(caseEngine, caseDownloader, caseEvents);
    caseEngine.SetWaitDevice(c.waiting);
    for (uint32_t e : c.events) caseEvents.posted.push_back({e, "sdz"});
    caseFlow.DispatchPending();
    EXPECT_EQ(caseFlow.BurnRunsStarted(), c.runs) << c.name;
    // A run over no card says so before its final message.
    const Texts ran{kNoCardFoundText, kBurnDone};
    EXPECT_EQ(caseOp.Texts(), c.runs == 1 ? ran : Texts{}) << c.name;
    EXPECT_FALSE(caseEngine.WaitDevice() && c.runs == 1) << c.name;
  }
}

TEST_F(BoardFlowTest, NoBoardStillWaitsAndAnyArrivalStartsARun) {
  bus.AddDevice(SimInternalDisk());
  flow.OnBurnBoardMode();
  EXPECT_EQ(op.Texts(), Texts{kNoBoard});
  EXPECT_TRUE(engine.WaitDevice());
  EXPECT_TRUE(bus.VendorCommands().empty());

  // Any device's arrival starts the run, which burns whatever discovery finds.
  ASSERT_TRUE(CreateCardImage(dir.File("reader.img"), 4ull << 30));
  ASSERT_TRUE(disks.AddImage(dir.File("reader.img")));
  events.posted.push_back({kDeviceArrival, "sdq"});
  EXPECT_TRUE(flow.WaitForArrival(clock, std::chrono::seconds(30)));
  EXPECT_EQ(op.Texts(), (Texts{kNoBoard, kBurnDone}));
  EXPECT_EQ(engine.LastRun().cardsFound, 1);
  EXPECT_EQ(engine.LastRun().cardsWritten, 1);
}

TEST_F(BoardFlowTest, RefusedPackStillWaitsAsTheDialogDoes) {
  engine.SetPackFile(dir.File("missing.bin"));
  bus.AddDevice(Board());
  flow.OnBurnBoardMode();
  EXPECT_EQ(op.Texts(), Texts{"open file fail!"});
  EXPECT_TRUE(engine.WaitDevice());
  EXPECT_TRUE(bus.Commands().empty());
}

TEST_F(BoardFlowTest, WaitEndsAtItsTimeOutOnTheClock) {
  SimDeviceConfig board = Board();
  board.presentsCard = false;
  bus.AddDevice(board);
  flow.OnBurnBoardMode();
  EXPECT_TRUE(op.messages.empty());
  EXPECT_FALSE(flow.WaitForArrival(clock, std::chrono::seconds(90)));
  EXPECT_EQ(clock.slept, std::chrono::seconds(90));
  EXPECT_TRUE(engine.WaitDevice());
  EXPECT_EQ(flow.BurnRunsStarted(), 0);
}

TEST_F(BoardFlowTest, BadPackageIsNotStartedByTheBoard) {
  bus.AddDevice(Board());
  std::vector<uint8_t> package(1536, 0);
  downloader.DownloadDfu(package.data(), 1536);
  EXPECT_EQ(bus.Refusal(0), "BootInfo magic is not KDFUUFDK");
  EXPECT_FALSE(bus.CardPresented(0));
  EXPECT_FALSE(std::filesystem::exists(dir.File("card.img")));
}

TEST_F(BoardFlowTest, BoardChecksThePackageItReceived) {
  CCrc32 crc;
  ImageBuffer image;
  image.length = 1000;
  image.data.assign(1512, 0x5A);
  std::fill(image.data.begin() + 1000, image.data.end(), 0);
  const std::vector<uint8_t> good =
      BuildDownloadPackage(image, ReadBoardConfig(engine.CfgFile()), crc);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* refusal;
  };
  const Case cases[] = {
      {"intact", [](std::vector<uint8_t>&) {}, ""},
      {"magic", [](std::vector<uint8_t>& p) { p[3] ^= 1; }, "BootInfo magic is not KDFUUFDK"},
      {"record byte", [](std::vector<uint8_t>& p) { p[100] ^= 1; },
       "BootInfo infoCrc does not match"},
      {"image byte", [](std::vector<uint8_t>& p) { p[700] ^= 1; },
       "imageCrc does not match the image"},
      {"imageLen past the end",
       [&crc](std::vector<uint8_t>& p) {
         PutU32(p.data(), bootinfo::kImageLen, 4096);
         PutU32(p.data(), bootinfo::kInfoCrc, crc.Compute(p.data(), bootinfo::kInfoCrc));
       },
       "imageLen reaches past the end of the package"},
  };
  for (const Case& c : cases) {
    testing::BoardRig rig(1);
    std::vector<uint8_t> package = good;
    c.damage(package);
    rig.downloader.DownloadDfu(package.data(), DownloadLength(image.length));
    EXPECT_EQ(rig.bus.Refusal(0), c.refusal) << c.name;
  }
}

}  // namespace
}  // namespace tarnwick
