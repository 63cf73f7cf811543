// Verification reads back every sector the burn wrote and names the first
// one that does not hold what was written.
#include "burn_fixture.h"

namespace tarnwick::testing {
namespace {

const uint64_t kSystemStart = kX + 63;

struct VerifyCase {
  const char* name;
  std::function<void(FakeCard&)> counterfeit;
  std::string line;  // the log's verdict after "Write ok"
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
  *os << c.name;
}

class Verify : public BurnFixture, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(Verify, ReadsBackTheCardAndNamesTheFirstSectorThatDiffers) {
  images[PackSlot::System] = PatternBytes(40'000, 4);
  settings.values["VerifyAfterBurn"] = 1;
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  GetParam().counterfeit(card);
  Run();
  EXPECT_NE(log.find("BurnToOneSD: Write ok\n" + GetParam().line + "\n"), std::string::npos) << log;
  const bool ok = GetParam().line == "BurnToOneSD: Verify ok";
  EXPECT_EQ(engine->LastRun().cardsWritten, ok ? 1 : 0);
  if (!ok) {
    ASSERT_EQ(engine->LastRun().failed.size(), 1u);
    EXPECT_EQ("BurnToOneSD: " + engine->LastRun().failed[0].reason, GetParam().line);
  }
  EXPECT_EQ(card.readBacks > 0, card.readsBack);
}

INSTANTIATE_TEST_SUITE_P(
    Burn, Verify,
    ::testing::Values(
        VerifyCase{"good card", [](FakeCard&) {}, "BurnToOneSD: Verify ok"},
        // Nothing from the System partition on is kept: BootInfo, written
        // second, is the first write that is missing.
        VerifyCase{"writes dropped beyond a capacity", [](FakeCard& c) { c.dropFrom = kX; },
                   "BurnToOneSD: Verify BootInfo failed at sector 0x752758"},
        // Sector P lands on System's first sector, which System overwrites.
        VerifyCase{"writes wrapping around", [](FakeCard& c) { c.wrapAt = kP - kSystemStart; },
                   "BurnToOneSD: Verify BootInfo failed at sector 0x752758"},
        // One sector inside System.
        VerifyCase{"one sector of System dropped",
                   [](FakeCard& c) {
                     c.dropFrom = kSystemStart + 20;
                     c.dropTo = kSystemStart + 21;
                   },
                   "BurnToOneSD: Verify System failed at sector 0x5826ac"},
        VerifyCase{"a disk that cannot be read back", [](FakeCard& c) { c.readsBack = false; },
                   "BurnToOneSD: Verify MBR failed: this disk cannot be read back"}),
    [](const ::testing::TestParamInfo<VerifyCase>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// Without verification nothing is read back and the log ends as ever.
TEST_F(BurnFixture, WithoutVerificationNothingIsReadBack) {
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  Run();
  EXPECT_EQ(card.readBacks, 0);
  EXPECT_EQ(LogLines().back(), "BurnToOneSD: Write ok\n");
}

// Forced on by the front end whatever the settings say.
TEST_F(BurnFixture, VerificationForcedOnReadsBack) {
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  WriteInputs();
  MakeEngine();
  engine->SetVerify(true);
  LogCapture capture;
  engine->RunBurn();
  EXPECT_GT(card.readBacks, 0);
  EXPECT_NE(capture.Text().find("BurnToOneSD: Verify ok\n"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
