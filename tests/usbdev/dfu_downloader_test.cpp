#include "usbdev/dfu_downloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

#include "board_rig.h"
#include "bootcfg/boot_info.h"
#include "burn_inputs.h"
#include "common/debug_log.h"
#include "common/le.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::BoardRig;
using testing::TempDir;
using Texts = std::vector<std::string>;

const char kNoBoard[] = "Can't find udisk. please make sure udisk is ok.";
const Texts kTimeoutBoxes = {"DownBootloader: Timeout", "download bootloader err",
                             "Download DFU failed"};
const Texts kFailureBoxes = {"DownBootloader: failed\n", "download bootloader err",
                             "Download DFU failed"};

std::vector<uint8_t> Pattern(size_t n) {
  return testing::PatternBytes(n, 3);
}

class DownloaderTest : public ::testing::Test, public BoardRig {
 protected:
  LogCapture quiet;
};

TEST(VendorRequest, IsByteExact) {
  uint8_t block[512];
  struct Case {
    bool first, last;
    uint8_t flag;
    uint32_t timeout;
  };
  for (const Case& c : {Case{true, false, 0, 60}, Case{false, false, 0, 10},
                        Case{false, true, 1, 10}, Case{true, true, 1, 60}}) {
    ScsiRequest r = MakeVendorRequest(block, 512, c.first, c.last);
    const std::array<uint8_t, kMaxCdbLength> cdb = {0xCF, 0x12, c.flag};
    EXPECT_EQ(r.cdb, cdb);
    EXPECT_EQ(r.cdbLength, 16);
    EXPECT_EQ(r.direction, ScsiDirection::ToDevice);
    EXPECT_EQ(r.data, block);
    EXPECT_EQ(r.dataLength, 512u);
    EXPECT_EQ(r.senseLength, 14);
    EXPECT_EQ(r.timeoutSeconds, c.timeout);
  }
}

TEST_F(DownloaderTest, BlocksFlagsAndTimeoutsByPayloadLength) {
  struct Case {
    uint32_t length;
    std::vector<uint8_t> flags;
    std::vector<uint32_t> timeouts;
  };
  const Case cases[] = {
      {0, {}, {}},
      {512, {1}, {60}},
      {1536, {0, 0, 1}, {60, 10, 10}},
      {2048, {0, 0, 0, 1}, {60, 10, 10, 10}},
  };
  for (const Case& c : cases) {
    BoardRig rig(1);
    std::vector<uint8_t> payload = Pattern(c.length);
    rig.downloader.DownloadDfu(payload.data(), c.length);
    std::vector<SimCommand> sent = rig.bus.VendorCommands();
    ASSERT_EQ(sent.size(), c.flags.size()) << c.length;
    for (size_t k = 0; k < sent.size(); ++k) {
      EXPECT_EQ(sent[k].cdb[2], c.flags[k]) << c.length << " block " << k;
      EXPECT_EQ(sent[k].timeoutSeconds, c.timeouts[k]) << c.length << " block " << k;
      EXPECT_EQ(sent[k].data,
                std::vector<uint8_t>(payload.begin() + 512 * k, payload.begin() + 512 * (k + 1)));
    }
    EXPECT_TRUE(rig.op.messages.empty()) << c.length;
    EXPECT_EQ(rig.clock.slept.count(), 0) << c.length;
  }
}

TEST_F(DownloaderTest, NoBoardShowsTheBoxAndSendsNothing) {
  bus.AddDevice(SimInternalDisk());
  bus.AddDevice(SimInternalDisk());
  std::vector<uint8_t> payload = Pattern(1536);
  downloader.DownloadDfu(payload.data(), 1536);
  EXPECT_EQ(op.Texts(), Texts{kNoBoard});
  EXPECT_TRUE(bus.VendorCommands().empty());
  EXPECT_EQ(bus.OpenHandleCount(), 0u);
  EXPECT_EQ(downloader.BoardCount(), 0);
}

TEST_F(DownloaderTest, EmptyPayloadStillSearches) {
  downloader.DownloadDfu(nullptr, 0);
  EXPECT_EQ(op.Texts(), Texts{kNoBoard});
  bus.AddDevice({});
  op.messages.clear();
  downloader.DownloadDfu(nullptr, 0);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(downloader.BoardCount(), 1);
  EXPECT_TRUE(bus.VendorCommands().empty());
}

TEST(DecodeSense, FixedAndDescriptorFormats) {
  struct Case {
    std::vector<uint8_t> sense;
    std::optional<std::array<uint8_t, 3>> codes;  // key, ASC, ASCQ
  };
  const Case cases[] = {
      {{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x01}, {{0x05, 0x20, 0x01}}},
      {{0xF1, 0, 0xE3, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x3A, 0x00}, {{0x03, 0x3A, 0x00}}},
      {{0x72, 0x06, 0x29, 0x00}, {{0x06, 0x29, 0x00}}},
      {{0x73, 0x0B, 0x47, 0x03, 0, 0, 0, 0}, {{0x0B, 0x47, 0x03}}},
      {{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20}, std::nullopt},  // cut short
      {{0x72, 0x06, 0x29}, std::nullopt},
      {{0x7F, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x01}, std::nullopt},  // vendor
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<SenseCodes> codes = DecodeSense(c.sense.data(), c.sense.size());
    ASSERT_EQ(codes.has_value(), c.codes.has_value()) << c.sense.size();
    if (!codes) continue;
    EXPECT_EQ((std::array<uint8_t, 3>{codes->key, codes->asc, codes->ascq}), *c.codes);
  }
}

// A board that answers CHECK CONDITION is still sent every block, as the
// system does; each such answer is logged and counted for that board.
TEST_F(DownloaderTest, StatusOtherThanGoodIsLoggedAndCountedPerBoard) {
  SimDeviceConfig refusing;
  refusing.acceptsDownload = false;
  bus.AddDevice({});
  bus.AddDevice(refusing);
  std::vector<uint8_t> payload = Pattern(1536);
  LogCapture log;
  downloader.DownloadDfu(payload.data(), 1536);
  const std::string line = "DownBootloader: SCSI status 0x02, sense key 0x5, ASC 0x20, ASCQ 0x00\n";
  size_t lines = 0;
  for (size_t at = log.Text().find(line); at != std::string::npos;
       at = log.Text().find(line, at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 3u) << log.Text();
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(downloader.LastDownload().boardsServed, 2);
  EXPECT_EQ(downloader.LastDownload().blocksNotGood, (std::vector<int>{0, 3}));
}

TEST_F(DownloaderTest, TwoBoardsAreServedOneAfterTheOther) {
  bus.AddDevice({});
  bus.AddDevice(SimInternalDisk());
  bus.AddDevice({});
  std::vector<uint8_t> payload = Pattern(1536);
  downloader.DownloadDfu(payload.data(), 1536);
  std::vector<SimCommand> sent = bus.VendorCommands();
  ASSERT_EQ(sent.size(), 6u);
  const std::vector<size_t> devices = {0, 0, 0, 2, 2, 2};
  const std::vector<uint32_t> timeouts = {60, 10, 10, 60, 10, 10};
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].device, devices[i]) << i;
    EXPECT_EQ(sent[i].timeoutSeconds, timeouts[i]) << i;
  }
  EXPECT_EQ(bus.Received(0), payload);
  EXPECT_EQ(bus.Received(2), payload);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(downloader.LastDownload().boardsServed, 2);
  // The boards stay open after the download.
  EXPECT_EQ(bus.OpenHandleCount(), 2u);
}

TEST_F(DownloaderTest, FailedBlockEndsThatBoardOnly) {
  struct Case {
    const char* name;
    uint32_t faultBlock;
    SimFault fault;
    Texts boxes;
    std::chrono::seconds waited;
  };
  const Case cases[] = {
      {"first block times out", 0, SimFault::TimeOut, kTimeoutBoxes, std::chrono::seconds(60)},
      {"second block times out", 1, SimFault::TimeOut, kTimeoutBoxes, std::chrono::seconds(10)},
      {"second block fails", 1, SimFault::Failure, kFailureBoxes, std::chrono::seconds(0)},
      {"last block fails", 2, SimFault::Failure, kFailureBoxes, std::chrono::seconds(0)},
  };
  for (const Case& c : cases) {
    BoardRig rig;
    SimDeviceConfig failing;
    failing.faultBlock = c.faultBlock;
    failing.fault = c.fault;
    rig.bus.AddDevice(failing);
    rig.bus.AddDevice({});
    std::vector<uint8_t> payload = Pattern(1536);
    rig.downloader.DownloadDfu(payload.data(), 1536);

    EXPECT_EQ(rig.op.Texts(), c.boxes) << c.name;
    size_t toBoard0 = 0;
    for (const SimCommand& cmd : rig.bus.VendorCommands()) toBoard0 += cmd.device == 0;
    EXPECT_EQ(toBoard0, c.faultBlock + 1u) << c.name;  // nothing after the failed block
    EXPECT_TRUE(rig.bus.Received(0).empty()) << c.name;
    EXPECT_EQ(rig.bus.Received(1), payload) << c.name;
    EXPECT_EQ(rig.clock.slept, c.waited) << c.name;
    EXPECT_EQ(rig.downloader.LastDownload().boardsFound, 2) << c.name;
    EXPECT_EQ(rig.downloader.LastDownload().boardsServed, 1) << c.name;
  }
}

TEST_F(DownloaderTest, UnpluggedBoardFailsItsNextBlock) {
  bus.AddDevice({});
  downloader.FindBoards();
  ASSERT_EQ(downloader.BoardCount(), 1);
  bus.Unplug(0);
  downloader.SelectBoard(0);
  uint8_t block[512] = {};
  EXPECT_EQ(downloader.SendBlock(block, 512, true, false), kSendBlockFailed);
  EXPECT_EQ(op.Texts(), (Texts{"DownBootloader: failed\n", "download bootloader err"}));
}

// Pack and configuration files for LoadPackForBoard.
class LoadPackTest : public DownloaderTest {
 public:
  std::string MakePack(const std::vector<uint8_t>& dfu) {
    return testing::WritePack(dir, {{PackSlot::Dfu, dfu}});
  }
  std::string MakeConfig() {
    testing::WriteFile(dir.File("board.cfg"),
                       "[AddrInfo]\nloadPlainTextAddr=0x11111111\n"
                       "[DfuAddrInfo]\nloadPlainTextAddr=0x40008000\ngoAddr=0x40008020\n");
    return dir.File("board.cfg");
  }
  // Rewrites a 32-bit field of the pack header.
  void PatchHeader(const std::string& pack, size_t offset, uint32_t value) {
    std::vector<uint8_t> bytes = testing::ReadFileBytes(pack);
    PutU32(bytes.data(), offset, value);
    testing::WriteFile(pack, bytes);
  }

  TempDir dir;
  CCrc32 crc;
  PackHeader header;
};

// The package from a configuration value: BootInfo with the download
// addresses, the image, zeros; only whole sectors of length + 1024 are sent.
TEST(DownloadPackage, LayoutAndLength) {
  BoardConfig config;
  config.Set("AddrInfo", "loadPlainTextAddr", 0x11111111);
  config.Set("DfuAddrInfo", "loadPlainTextAddr", 0x40008000);
  config.Set("DfuAddrInfo", "goAddr", 0x40008020);
  CCrc32 crc;
  struct Case {
    uint32_t dfuLength;
    uint32_t sent;
    uint32_t imageLen;
  };
  for (const Case& c : {Case{1000, 1536, 1024}, Case{1024, 2048, 1024}, Case{0, 1024, 0}}) {
    SCOPED_TRACE(c.dfuLength);
    const std::vector<uint8_t> dfu = Pattern(c.dfuLength);
    ImageBuffer image;
    image.length = c.dfuLength;
    image.data.assign(c.dfuLength + 512, 0);
    std::copy(dfu.begin(), dfu.end(), image.data.begin());
    const std::vector<uint8_t> got = BuildDownloadPackage(image, config, crc);
    ASSERT_EQ(got.size(), c.dfuLength + 1024u);
    EXPECT_EQ(DownloadLength(c.dfuLength), c.sent);
    EXPECT_EQ(std::string(got.begin(), got.begin() + 8), "KDFUUFDK");
    EXPECT_EQ(GetU32(got.data(), bootinfo::kLoadPlainTextAddr), 0x40008000u);
    EXPECT_EQ(GetU32(got.data(), bootinfo::kGoAddr), 0x40008020u);
    EXPECT_EQ(GetU32(got.data(), bootinfo::kImageLen), c.imageLen);
    EXPECT_EQ(GetU32(got.data(), bootinfo::kInfoCrc), crc.Compute(got.data(), 508));
    EXPECT_TRUE(std::equal(dfu.begin(), dfu.end(), got.begin() + 512));
    EXPECT_TRUE(
        std::all_of(got.begin() + 512 + c.dfuLength, got.end(), [](uint8_t b) { return b == 0; }));
  }
}

// LoadPackForBoard reads the configuration file once the image is loaded and
// sends the package built from it.
TEST_F(LoadPackTest, SendsThePackageOfTheConfigurationFile) {
  BoardRig rig(1);
  const std::vector<uint8_t> dfu = Pattern(1000);
  rig.downloader.LoadPackForBoard(MakePack(dfu), MakeConfig(), crc, header);
  const std::vector<uint8_t>& got = rig.bus.Received(0);
  ASSERT_EQ(got.size(), 1536u);
  EXPECT_EQ(rig.bus.Refusal(0), "");
  EXPECT_EQ(GetU32(got.data(), bootinfo::kLoadPlainTextAddr), 0x40008000u);
  EXPECT_EQ(GetU32(got.data(), bootinfo::kGoAddr), 0x40008020u);
  EXPECT_TRUE(std::equal(dfu.begin(), dfu.end(), got.begin() + 512));
  EXPECT_TRUE(rig.op.messages.empty());
  EXPECT_TRUE(rig.downloader.LastDownload().packLoaded);
}

TEST_F(LoadPackTest, BadPacksAreRefusedBeforeAnyBoardIsSearched) {
  struct Case {
    const char* name;
    std::function<std::string(LoadPackTest&)> make;
    const char* boxStart;
  };
  const Case cases[] = {
      {"missing file", [](LoadPackTest& t) { return t.dir.File("absent.bin"); }, "open file fail!"},
      {"shorter than its header",
       [](LoadPackTest& t) {
         testing::WriteFile(t.dir.File("short.bin"), std::vector<uint8_t>(391, 0));
         return t.dir.File("short.bin");
       },
       "The pack file"},
      {"DFU image past the end",
       [](LoadPackTest& t) {
         std::string pack = t.MakePack(Pattern(1000));
         t.PatchHeader(pack, PackSlotOffset(PackSlot::Dfu) + 4, 100000);
         return pack;
       },
       "The pack file"},
      {"DFU offset past the end",
       [](LoadPackTest& t) {
         std::string pack = t.MakePack(Pattern(1000));
         t.PatchHeader(pack, PackSlotOffset(PackSlot::Dfu), 0xFFFFF000u);
         return pack;
       },
       "The pack file"},
  };
  for (const Case& c : cases) {
    BoardRig rig(1);
    rig.downloader.LoadPackForBoard(c.make(*this), MakeConfig(), crc, header);
    ASSERT_EQ(rig.op.messages.size(), 1u) << c.name;
    EXPECT_EQ(rig.op.messages[0].text.rfind(c.boxStart, 0), 0u) << c.name;
    EXPECT_TRUE(rig.bus.Commands().empty()) << c.name;  // not even an INQUIRY
    EXPECT_FALSE(rig.downloader.LastDownload().packLoaded) << c.name;
  }
}

TEST_F(LoadPackTest, OnlyTheDfuSlotIsChecked) {
  std::string pack = MakePack(Pattern(1000));
  for (PackSlot junk : {PackSlot::Spare, PackSlot::System, PackSlot::UBootBin}) {
    PatchHeader(pack, PackSlotOffset(junk), 0xFFFFFF00u);
    PatchHeader(pack, PackSlotOffset(junk) + 4, 0x7FFFFFFFu);
  }
  bus.AddDevice({});
  downloader.LoadPackForBoard(pack, MakeConfig(), crc, header);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(bus.Received(0).size(), 1536u);
  EXPECT_EQ(header.Length(PackSlot::Dfu), 1000u);
}

}  // namespace
}  // namespace tarnwick
