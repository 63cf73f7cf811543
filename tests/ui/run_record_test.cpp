// The record of a run: the engine's summary, the writes counted on their way
// to the disks, and the engine's card updates where it makes them.
#include "ui/run_record.h"

#include <gtest/gtest.h>

#include "burn_inputs.h"
#include "common/debug_log.h"
#include "engine/burn_stages.h"
#include "fake_clock.h"
#include "fake_operator.h"
#include "platform/host.h"
#include "platform/sim/image_disk_service.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::FakeClock;
using testing::FakeOperator;

class RunRecordTest : public ::testing::Test {
 protected:
  RunRecordTest() {
    std::filesystem::copy_file(std::filesystem::path(TARNWICK_SOURCE_DIR) / "examples/board.ini",
                               dir.File("board.ini"));
    pack = testing::WritePack(dir, {{PackSlot::UBootBin, testing::PatternBytes(1000, 1)},
                                    {PackSlot::System, testing::PatternBytes(20000, 2)}});
    const std::pair<const char*, uint64_t> cards[] = {
        {"a.img", 2ull << 30}, {"small.img", 16ull << 20}, {"c.img", 2ull << 30}};
    for (const auto& [name, bytes] : cards) {
      EXPECT_TRUE(CreateCardImage(dir.File(name), bytes));
      EXPECT_TRUE(disks.AddImage(dir.File(name)));
    }
  }

  RunRecord Run(const std::function<void(int)>& atProgress) {
    CRunRecorder recorder(disks, clock);
    CRecordingOperator op(fakeOp, recorder);
    fakeOp.onProgress = [&](int position) {
      clock.SleepFor(std::chrono::milliseconds(500));
      if (atProgress) atProgress(position);
    };
    CBurnEngine engine(recorder.Disks(), op, settings);
    engine.SetCfgFile(dir.File("board.ini"));
    engine.SetPackFile(pack);
    recorder.Start(dir.File("board.ini"), pack);
    updates = &op;
    engine.RunBurn();
    return recorder.Finish(engine, [](const std::string& device) {
      return CardIdentity{"V", "M " + device.substr(device.size() - 5), "S"};
    });
  }

  testing::TempDir dir;
  std::string pack;
  ImageDiskService disks;
  FakeClock clock;
  FakeOperator fakeOp;
  testing::ZeroSettings settings;
  IOperator* updates = nullptr;
  LogCapture quiet;
};

TEST_F(RunRecordTest, WithoutCardUpdatesTheSummaryAndTheCountedWritesMakeTheRecord) {
  const RunRecord run = Run({});
  EXPECT_EQ(run.cardsFound, 3);
  EXPECT_EQ(run.cardsWritten, 2);
  ASSERT_EQ(run.cards.size(), 3u);
  const CardRecord& a = run.cards[0];
  EXPECT_EQ(a.device, dir.File("a.img"));
  EXPECT_EQ(a.result, "passed");
  EXPECT_EQ(a.reason, "");
  EXPECT_EQ(a.model, "M a.img");
  EXPECT_EQ(a.sizeBytes % (255 * 63 * 512), 0u);
  // The images and records written, the FAT32 structures among them.
  EXPECT_GT(a.bytesWritten, 20000u + 1000u + 1048576u);
  // From opening to closing: the fourteen stages after the card was opened.
  EXPECT_DOUBLE_EQ(a.seconds, 7.0);
  EXPECT_DOUBLE_EQ(a.MegabytesPerSecond(), a.bytesWritten / 7.0 / 1e6);
  EXPECT_EQ(a.verify, "not verified");
  const CardRecord& small = run.cards[1];
  EXPECT_EQ(small.slot, 1);
  EXPECT_EQ(small.result, "refused");
  EXPECT_EQ(small.bytesWritten, 0u);
  EXPECT_NE(small.reason.find("the card would need at least"), std::string::npos) << small.reason;
  EXPECT_EQ(run.cards[2].device, dir.File("c.img"));
  EXPECT_EQ(run.cards[2].bytesWritten, a.bytesWritten);
  EXPECT_EQ(run.pack.sha256.size(), 64u);
  EXPECT_EQ(run.start.size(), std::string("2026-12-07T19:05:00Z").size());
}

TEST_F(RunRecordTest, CardUpdatesOfTheEngineOverrideWhatTheyKnow) {
  int cardsDone = 0;
  const RunRecord run = Run([&](int position) {
    if (position != kProgressCardDone) return;
    CardStatus status;
    if (cardsDone++ == 0) {
      status.slot = 0;
      status.device = dir.File("a.img");
      status.phase = CardPhase::Done;
      status.verify = "ok";
    } else {
      status.slot = 2;
      status.phase = CardPhase::Interrupted;
      status.reason = "interrupted: Ctrl-C";
      status.bytesWritten = 4096;
      status.seconds = 1.5;
    }
    updates->CardUpdate(status);
  });
  ASSERT_EQ(run.cards.size(), 3u);
  EXPECT_EQ(run.cards[0].verify, "ok");
  EXPECT_EQ(run.cards[0].result, "passed");
  EXPECT_DOUBLE_EQ(run.cards[0].seconds, 7.0);
  EXPECT_EQ(run.cards[2].result, "interrupted");
  EXPECT_EQ(run.cards[2].reason, "interrupted: Ctrl-C");
  // The counted writes stand over the engine's figures.
  EXPECT_EQ(run.cards[2].bytesWritten, run.cards[0].bytesWritten);
}

TEST(UtcIso8601, CivilDatesAroundLeapYearsAndTheEpoch) {
  using std::chrono::seconds;
  using std::chrono::system_clock;
  const std::pair<int64_t, const char*> cases[] = {
      {0, "1970-01-01T00:00:00Z"},          {-1, "1969-12-31T23:59:59Z"},
      {951782400, "2000-02-29T00:00:00Z"},  {951868799, "2000-02-29T23:59:59Z"},
      {4107456000, "2100-02-28T00:00:00Z"}, {4107542400, "2100-03-01T00:00:00Z"},
      {1796670300, "2026-12-07T19:05:00Z"},
  };
  for (const auto& [since, text] : cases) {
    EXPECT_EQ(UtcIso8601(system_clock::time_point(seconds(since))), text) << since;
  }
}

}  // namespace
}  // namespace tarnwick
