// The images go from the pack to the card through a small pool of buffers:
// whatever the pool, the card receives the same bytes in the same order, and
// a pack that cannot be read half-way through ends the run.
#include <set>

#include "burn_fixture.h"
#include "common/le.h"
#include "engine/burn_stages.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick::testing {
namespace {

// Two buffers of two pages: images of a few pages cross several buffers.
constexpr StreamPool kSmallPool{2, 8192};
const std::string kDone = "烧写完成";

class StreamTest : public BurnFixture {
 protected:
  void RunWith(StreamPool pool) {
    WriteInputs();
    MakeEngine();
    engine->SetStreamPool(pool);
    LogCapture capture;
    engine->RunBurn();
    log = capture.Text();
  }
  uint32_t PackOffset(PackSlot slot) const {
    const std::vector<uint8_t> header = ReadFileBytes(packFile);
    return GetU32(header.data(), PackSlotOffset(slot));
  }
};

struct StreamCase {
  size_t system;  // bytes of System
  size_t cache;   // bytes of Cache
};

class StreamBoundaries : public StreamTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamBoundaries, CardAndLogAreThoseOfTheDefaultPool) {
  images[PackSlot::System] = PatternBytes(GetParam().system, 4);
  images[PackSlot::Cache] = PatternBytes(GetParam().cache, 6);
  disks.AddCard("card", kExampleCylinders);
  RunWith(StreamPool{});
  ASSERT_EQ(engine->LastRun().cardsWritten, 1);
  const std::string defaultLog = log;
  const std::map<uint64_t, Sector> defaultCard = disks.Card(0).sectors;

  FakeDiskService small;
  FakeCard& card = small.AddCard("card", kExampleCylinders);
  WriteInputs();
  CBurnEngine burn(small, op, settings);
  burn.SetCfgFile(cfgFile);
  burn.SetPackFile(packFile);
  burn.SetStreamPool(kSmallPool);
  LogCapture capture;
  burn.RunBurn();
  ASSERT_EQ(burn.LastRun().cardsWritten, 1);
  EXPECT_EQ(capture.Text(), defaultLog);
  EXPECT_TRUE(card.sectors == defaultCard);
  const uint64_t systemSectors = ImageSectorCount(GetParam().system);
  EXPECT_EQ(card.ReadBytes(kX + 63, systemSectors * 512),
            Expected(PackSlot::System, systemSectors));
  // Every image write is whole sectors from page-aligned memory, at most one buffer long.
  std::set<const void*> buffers;
  for (const WriteCall& call : card.calls) {
    if (call.offset < (kX + 63) * 512 || call.offset >= (kX + kL1) * 512) continue;
    EXPECT_LE(call.len, kSmallPool.bufferBytes);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(call.data) % 4096, 0u);
    buffers.insert(call.data);
  }
  EXPECT_LE(buffers.size(), kSmallPool.buffers);
}

INSTANTIATE_TEST_SUITE_P(Burn, StreamBoundaries,
                         ::testing::Values(StreamCase{0, 0}, StreamCase{1, 8192},
                                           StreamCase{511, 8191}, StreamCase{512, 8193},
                                           StreamCase{8193, 1}, StreamCase{5 * 8192 + 7, 512}));

// System cannot be read past its second buffer: the card in hand is closed
// with what was written so far, listed with the pack, the image and the
// offset, and the run ends there as at any pack read error.
TEST_F(StreamTest, PackReadFailingInTheMiddleOfSystemEndsTheRun) {
  images[PackSlot::System] = PatternBytes(40'000, 4);
  disks.AddCard("first", kExampleCylinders);
  disks.AddCard("second", kExampleCylinders);
  WriteInputs();
  const uint64_t failAt = PackOffset(PackSlot::System) + 2 * kSmallPool.bufferBytes;
  const ReadFault previous = SetReadFault([failAt](uint64_t offset, size_t) {
    return offset == failAt ? SysStatus(std::make_error_code(std::errc::io_error), "I/O error")
                            : SysStatus::Ok();
  });
  MakeEngine();
  engine->SetStreamPool(kSmallPool);
  {
    LogCapture capture;
    engine->RunBurn();
    log = capture.Text();
  }
  SetReadFault(previous);
  const std::string error = "Cannot read the pack file " + packFile +
                            ": its System image at offset " + std::to_string(failAt) +
                            ": I/O error";
  EXPECT_TRUE(engine->LastRun().aborted);
  EXPECT_EQ(engine->LastRun().abortReason, error);
  ASSERT_EQ(engine->LastRun().failed.size(), 1u);
  EXPECT_EQ(engine->LastRun().failed[0].device, "first");
  EXPECT_EQ(engine->LastRun().failed[0].reason, error);
  EXPECT_EQ(engine->LastRun().cardsRefused, 0);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1", "box " + error}));
  EXPECT_EQ(disks.events, (std::vector<std::string>{"open first", "close first"}));
  // The two buffers before the failure are on the card, nothing after them.
  FakeCard& first = disks.Card(0);
  EXPECT_EQ(first.WrittenIn(kX + 63, 32), 32u);
  EXPECT_EQ(first.WrittenIn(kX + 63 + 32, 100), 0u);
  EXPECT_EQ(first.WrittenIn(kX + kL2 + 63, 10), 0u);
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 0u);
}

}  // namespace
}  // namespace tarnwick::testing
