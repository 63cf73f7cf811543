#include "ui/cards_model.h"

#include <algorithm>
#include <cstdio>

namespace tarnwick {
namespace {

std::string SizeText(uint64_t bytes) {
  if (bytes == 0) return "";
  char text[32];
  const double value = static_cast<double>(bytes);
  if (bytes >= (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", value / (1u << 30));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", value / (1u << 20));
  }
  return text;
}

bool Busy(CardRowState state) {
  return state == CardRowState::Writing || state == CardRowState::Verifying;
}

}  // namespace

const std::array<const char*, CCardsModel::kColumns>& CCardsModel::ColumnTitles() {
  static const std::array<const char*, kColumns> titles{"Device", "Size", "Vendor and model",
                                                        "State"};
  return titles;
}

void CCardsModel::SetSurvey(const std::vector<SurveyedDisk>& disks) {
  std::vector<CardRow> rows;
  for (const SurveyedDisk& disk : disks) {
    auto old = std::find_if(m_rows.begin(), m_rows.end(),
                            [&](const CardRow& r) { return r.device == disk.device; });
    if (old != m_rows.end() && Busy(old->state)) {
      rows.push_back(*old);
    } else {
      CardRow row;
      row.device = disk.device;
      row.sizeBytes = disk.bytes;
      row.id = disk.id;
      row.state = disk.accepted ? CardRowState::Waiting : CardRowState::LeftOut;
      if (!disk.accepted) row.reason = disk.reason;
      rows.push_back(std::move(row));
    }
  }
  m_rows = std::move(rows);
  Sort();
}

CardRow& CCardsModel::RowOf(const std::string& device) {
  auto it = std::find_if(m_rows.begin(), m_rows.end(),
                         [&](const CardRow& r) { return r.device == device; });
  if (it != m_rows.end()) return *it;
  CardRow row;
  row.device = device;
  m_rows.push_back(std::move(row));
  return m_rows.back();
}

void CCardsModel::Apply(const CardStatus& status) {
  CardRow& row = RowOf(status.device);
  row.slot = status.slot;
  if (status.sizeBytes != 0) row.sizeBytes = status.sizeBytes;
  row.stage = status.stage;
  row.percent = std::clamp(status.percent, 0, 100);
  row.mbPerSecond =
      status.seconds > 0 ? static_cast<double>(status.bytesWritten) / status.seconds / 1e6 : 0;
  row.reason = status.reason;
  row.verify = status.verify;
  switch (status.phase) {
    case CardPhase::Waiting:
      row.state = CardRowState::Waiting;
      break;
    case CardPhase::Writing:
      row.state = CardRowState::Writing;
      break;
    case CardPhase::Verifying:
      row.state = CardRowState::Verifying;
      break;
    case CardPhase::Done:
      row.state = CardRowState::Done;
      break;
    case CardPhase::Failed:
      row.state = CardRowState::Failed;
      break;
    case CardPhase::Interrupted:
      row.state = CardRowState::Interrupted;
      break;
  }
  Sort();
}

// Cards in the survey's order (discovery's: by device name), a card the
// survey did not know after them, then the disks left out.
void CCardsModel::Sort() {
  std::stable_partition(m_rows.begin(), m_rows.end(),
                        [](const CardRow& r) { return r.state != CardRowState::LeftOut; });
}

std::string CCardsModel::StateText(const CardRow& row) {
  char rate[48] = "";
  if (row.mbPerSecond > 0) std::snprintf(rate, sizeof rate, ", %.1f MB/s", row.mbPerSecond);
  switch (row.state) {
    case CardRowState::Waiting:
      return "waiting";
    case CardRowState::Writing:
      return "writing " + row.stage + " " + std::to_string(row.percent) + "%" + rate;
    case CardRowState::Verifying:
      return "verifying " + std::to_string(row.percent) + "%" + rate;
    case CardRowState::Done:
      return row.verify.empty() ? std::string("done") : "done, verified " + row.verify;
    case CardRowState::Failed:
      return "failed: " + row.reason;
    case CardRowState::Interrupted:
      return "interrupted: " + row.reason;
    case CardRowState::LeftOut:
      return "left out: " + row.reason;
  }
  return {};
}

std::string CCardsModel::Cell(const CardRow& row, size_t column) {
  switch (column) {
    case 0:
      return row.device;
    case 1:
      return SizeText(row.sizeBytes);
    case 2: {
      std::string name = row.id.vendor;
      if (!row.id.model.empty()) name += (name.empty() ? "" : " ") + row.id.model;
      return name;
    }
    default:
      return StateText(row);
  }
}

}  // namespace tarnwick
