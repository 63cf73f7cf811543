#pragma once
// The rows of the cards window, free of any toolkit so that every front end
// can show them: one row per card slot with its device, size, maker and
// model and where it stands, fed by the disk survey (the cards discovery
// would burn, and the disks it leaves out with the reason) and by the
// engine's card updates of a sequential or parallel run.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/operator.h"
#include "platform/host.h"

namespace tarnwick {

enum class CardRowState { Waiting, Writing, Verifying, Done, Failed, Interrupted, LeftOut };

struct CardRow {
  int slot = -1;  // the run's discovery slot, once the engine has told it
  std::string device;
  uint64_t sizeBytes = 0;
  DiskIdentity id;
  CardRowState state = CardRowState::Waiting;
  std::string stage;
  int percent = 0;
  double mbPerSecond = 0;
  std::string reason;  // failed, interrupted or left out: why
  std::string verify;  // "" or the verification outcome
};

// One disk of the survey.
struct SurveyedDisk {
  std::string device;
  uint64_t bytes = 0;
  bool accepted = false;  // a card discovery burns
  std::string reason;     // why it is left out
  DiskIdentity id;
};

class CCardsModel {
 public:
  static constexpr size_t kColumns = 4;
  static const std::array<const char*, kColumns>& ColumnTitles();

  // Replaces the rows with the survey: cards wait, other disks are left out.
  // The rows of cards a run is burning keep their state.
  void SetSurvey(const std::vector<SurveyedDisk>& disks);
  // A card's status from the engine (on the window's thread).
  void Apply(const CardStatus& status);

  const std::vector<CardRow>& Rows() const { return m_rows; }
  // The text of a cell: device, size, maker and model, state.
  static std::string Cell(const CardRow& row, size_t column);
  static std::string StateText(const CardRow& row);

 private:
  CardRow& RowOf(const std::string& device);
  void Sort();

  std::vector<CardRow> m_rows;
};

}  // namespace tarnwick
