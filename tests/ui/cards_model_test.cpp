// The cards window's rows: the survey, then the card updates of a
// sequential run and of a run writing several cards at once.
#include "ui/cards_model.h"

#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "ui/operator_relay.h"

namespace tarnwick {
namespace {

CardStatus Status(int slot, const std::string& device, CardPhase phase, int percent = 0,
                  const std::string& stage = "", const std::string& reason = "") {
  CardStatus s;
  s.slot = slot;
  s.device = device;
  s.sizeBytes = 4ull << 30;
  s.phase = phase;
  s.stage = stage;
  s.percent = percent;
  s.bytesWritten = static_cast<uint64_t>(percent) * 10'000'000;
  s.seconds = percent / 10.0;
  s.reason = reason;
  return s;
}

std::vector<std::string> States(const CCardsModel& model) {
  std::vector<std::string> out;
  for (const CardRow& row : model.Rows())
    out.push_back(row.device + " " + CCardsModel::StateText(row));
  return out;
}

const std::vector<SurveyedDisk> kSurvey = {
    {"/dev/sda", 500ull << 30, false, "system disk: /", {"ATA", "SSD 500"}},
    {"/dev/sdb", 4ull << 30, true, "", {"Generic", "STORAGE DEVICE"}},
    {"/dev/sdc", 8ull << 30, true, "", {"Generic", "SD/MMC"}},
};

TEST(CardsModel, SurveyListsCardsFirstAndLeftOutDisksWithTheirReason) {
  CCardsModel model;
  model.SetSurvey(kSurvey);
  EXPECT_EQ(States(model), (std::vector<std::string>{"/dev/sdb waiting", "/dev/sdc waiting",
                                                     "/dev/sda left out: system disk: /"}));
  const CardRow& first = model.Rows()[0];
  EXPECT_EQ(CCardsModel::Cell(first, 1), "4.0 GiB");
  EXPECT_EQ(CCardsModel::Cell(first, 2), "Generic STORAGE DEVICE");
}

struct RunStep {
  CardStatus status;
  std::vector<std::string> rows;  // the states after the step
};

void Replay(CCardsModel& model, const std::vector<RunStep>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    model.Apply(steps[i].status);
    EXPECT_EQ(States(model), steps[i].rows) << "step " << i;
  }
}

TEST(CardsModel, SequentialRunMovesOneCardAtATime) {
  CCardsModel model;
  model.SetSurvey(kSurvey);
  const std::string sda = "/dev/sda left out: system disk: /";
  Replay(
      model,
      {{Status(0, "/dev/sdb", CardPhase::Writing, 0, "MBR"),
        {"/dev/sdb writing MBR 0%", "/dev/sdc waiting", sda}},
       {Status(0, "/dev/sdb", CardPhase::Writing, 40, "System"),
        {"/dev/sdb writing System 40%, 100.0 MB/s", "/dev/sdc waiting", sda}},
       {Status(0, "/dev/sdb", CardPhase::Failed, 40, "System", "Write System failed"),
        {"/dev/sdb failed: Write System failed", "/dev/sdc waiting", sda}},
       {Status(1, "/dev/sdc", CardPhase::Writing, 100, "FAT32"),
        {"/dev/sdb failed: Write System failed", "/dev/sdc writing FAT32 100%, 100.0 MB/s", sda}},
       {Status(1, "/dev/sdc", CardPhase::Done, 100),
        {"/dev/sdb failed: Write System failed", "/dev/sdc done", sda}}});
  // A new survey (the next run) puts the cards back to waiting.
  model.SetSurvey(kSurvey);
  EXPECT_EQ(States(model)[0], "/dev/sdb waiting");
}

TEST(CardsModel, ParallelRunInterleavesCardsAndKeepsBusyRowsOverASurvey) {
  CCardsModel model;
  model.SetSurvey(kSurvey);
  const std::string sda = "/dev/sda left out: system disk: /";
  CardStatus verified = Status(1, "/dev/sdc", CardPhase::Done, 100);
  verified.verify = "ok";
  Replay(
      model,
      {{Status(1, "/dev/sdc", CardPhase::Writing, 10, "BootImg"),
        {"/dev/sdb waiting", "/dev/sdc writing BootImg 10%, 100.0 MB/s", sda}},
       {Status(0, "/dev/sdb", CardPhase::Writing, 5, "MBR"),
        {"/dev/sdb writing MBR 5%, 100.0 MB/s", "/dev/sdc writing BootImg 10%, 100.0 MB/s", sda}},
       {Status(1, "/dev/sdc", CardPhase::Verifying, 50),
        {"/dev/sdb writing MBR 5%, 100.0 MB/s", "/dev/sdc verifying 50%, 100.0 MB/s", sda}},
       {verified, {"/dev/sdb writing MBR 5%, 100.0 MB/s", "/dev/sdc done, verified ok", sda}}});
  model.SetSurvey(kSurvey);  // the window reopened mid-run
  EXPECT_EQ(States(model)[0], "/dev/sdb writing MBR 5%, 100.0 MB/s");
  EXPECT_EQ(States(model)[1], "/dev/sdc waiting");
  model.Apply(Status(0, "/dev/sdb", CardPhase::Interrupted, 5, "MBR", "stopped"));
  EXPECT_EQ(States(model)[0], "/dev/sdb interrupted: stopped");
  // A card the survey did not know gets a row of its own, after the cards.
  model.Apply(Status(2, "/tmp/card.img", CardPhase::Writing, 1, "MBR"));
  EXPECT_EQ(States(model)[2], "/tmp/card.img writing MBR 1%, 100.0 MB/s");
}

// The relay and the dialog pass a card's status on to the window unchanged.
class RecordingOperator : public IOperator {
 public:
  MsgAnswer ShowMessage(const std::string&, MsgButtons) override { return MsgAnswer::Ok; }
  void SetProgress(int) override {}
  void Refresh() override {}
  void EnableControls(bool) override {}
  void ReportFailedCards(const std::vector<FailedCard>&) override {}
  void CardUpdate(const CardStatus& status) override { devices.push_back(status.device); }
  std::vector<std::string> devices;
};

TEST(CardsModel, RelayForwardsCardUpdatesOnlyWhileAttached) {
  COperatorRelay relay;
  RecordingOperator target;
  relay.CardUpdate(Status(0, "/dev/lost", CardPhase::Writing));
  relay.Attach(&target);
  relay.CardUpdate(Status(0, "/dev/sdb", CardPhase::Writing));
  relay.Attach(nullptr);
  relay.CardUpdate(Status(0, "/dev/late", CardPhase::Done));
  EXPECT_EQ(target.devices, std::vector<std::string>{"/dev/sdb"});
}

}  // namespace
}  // namespace tarnwick
