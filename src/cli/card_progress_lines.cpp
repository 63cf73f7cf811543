#include "cli/card_progress_lines.h"

#include <cstdio>

namespace tarnwick::cli {

namespace {

const char* PhaseName(CardPhase phase) {
  switch (phase) {
    case CardPhase::Waiting:
      return "waiting";
    case CardPhase::Writing:
      return "writing";
    case CardPhase::Verifying:
      return "verifying";
    case CardPhase::Done:
      return "done";
    case CardPhase::Failed:
      return "failed";
    case CardPhase::Interrupted:
      return "interrupted";
  }
  return "";
}

}  // namespace

std::string CCardLines::Render(const CardStatus& s, int columns) {
  const double rate = s.seconds > 0 ? static_cast<double>(s.bytesWritten) / s.seconds / 1e6 : 0;
  std::string what = PhaseName(s.phase);
  if (s.phase == CardPhase::Writing && !s.stage.empty()) what = s.stage;
  if (s.phase == CardPhase::Failed && !s.reason.empty()) what += ": " + s.reason;
  char line[512];
  std::snprintf(line, sizeof line, "%-16s %3d%% %7.1f MB/s  %s", s.device.c_str(), s.percent, rate,
                what.c_str());
  std::string text = line;
  if (columns > 1 && text.size() >= static_cast<size_t>(columns)) {
    text.resize(static_cast<size_t>(columns) - 1);
  }
  return text;
}

void CCardLines::Update(const CardStatus& status) {
  m_cards[status.slot] = status;
  Clear();
  Redraw();
}

void CCardLines::Clear() {
  if (m_shown == 0) return;
  // Up to the first line, then erase to the end of the screen.
  m_write("\r\033[" + std::to_string(m_shown) + "A\033[J");
  m_shown = 0;
}

void CCardLines::Redraw() {
  std::string text;
  for (const auto& [slot, status] : m_cards) text += Render(status, m_columns) + "\n";
  m_shown = m_cards.size();
  if (!text.empty()) m_write(text);
}

}  // namespace tarnwick::cli
