// Where each card of a run stands, as the operator's per-card view is told:
// every card waits first, then a card is written, verified and ends done or
// failed with the reason of the failed-card list.
#include "burn_fixture.h"

namespace tarnwick::testing {
namespace {

// The phases one slot went through, repeats of a phase folded.
std::vector<CardPhase> Phases(const std::vector<CardStatus>& updates, int slot) {
  std::vector<CardPhase> phases;
  for (const CardStatus& s : updates) {
    if (s.slot == slot && (phases.empty() || phases.back() != s.phase)) phases.push_back(s.phase);
  }
  return phases;
}

class CardStatusTest : public BurnFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(CardStatusTest, EachCardWaitsThenIsWrittenVerifiedAndEnds) {
  settings.values["VerifyAfterBurn"] = 1;
  settings.values["ParallelBurn"] = GetParam() ? 1 : 0;
  disks.AddCard("small", 10);  // refused: too small for the partitions
  disks.AddCard("good", kExampleCylinders);
  Run();
  const std::vector<CardStatus>& updates = op.cardUpdates;
  ASSERT_GE(updates.size(), 2u);
  EXPECT_EQ(updates[0].phase, CardPhase::Waiting);
  EXPECT_EQ(updates[1].phase, CardPhase::Waiting);
  EXPECT_EQ(updates[1].device, "good");
  EXPECT_EQ(updates[1].sizeBytes, uint64_t{kExampleCylinders} * 16065 * 512);

  EXPECT_EQ(Phases(updates, 0), (std::vector<CardPhase>{CardPhase::Waiting, CardPhase::Failed}));
  const CardStatus& refused = *std::find_if(updates.rbegin(), updates.rend(),
                                            [](const CardStatus& s) { return s.slot == 0; });
  EXPECT_EQ(refused.reason, engine->LastRun().failed.at(0).reason);

  EXPECT_EQ(Phases(updates, 1), (std::vector<CardPhase>{CardPhase::Waiting, CardPhase::Writing,
                                                        CardPhase::Verifying, CardPhase::Done}));
  const CardStatus& done = updates.back();
  EXPECT_EQ(done.slot, 1);
  EXPECT_EQ(done.percent, 100);
  EXPECT_EQ(done.verify, "ok");
  // Written bytes only grow (about ten updates a second), and the first
  // write is the MBR's one sector.
  uint64_t last = 0;
  bool first = true;
  for (const CardStatus& s : updates) {
    if (s.slot != 1 || s.phase != CardPhase::Writing) continue;
    if (first) {
      EXPECT_EQ(s.stage, "MBR");
      EXPECT_EQ(s.bytesWritten, 512u);
      first = false;
    }
    EXPECT_GE(s.bytesWritten, last);
    EXPECT_LE(s.percent, 100);
    last = s.bytesWritten;
  }
  EXPECT_GT(done.bytesWritten, images[PackSlot::BootRes].size());
  EXPECT_GE(done.bytesWritten, last);
}

INSTANTIATE_TEST_SUITE_P(Burn, CardStatusTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "parallel" : "sequential"; });

}  // namespace
}  // namespace tarnwick::testing
