#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace tarnwick::cli {
namespace {

constexpr int kBarWidth = 20;

}  // namespace

const char* StageName(int position) {
  // Before the card is open it is being prepared; after the last stage, flushed.
  if (position < kProgressCardOpened) return "preparing";
  if (position >= kProgressCardDone) return "flush";
  return kBurnStages[static_cast<size_t>(position - kProgressCardOpened)].name;
}

CProgressBar::CProgressBar(IClock& clock, Writer write, int columns)
    : m_clock(clock), m_write(std::move(write)), m_columns(std::max(columns, 20)) {}

void CProgressBar::StartCard(int card, int cards, const StageBytes& stageBytes) {
  m_card = card;
  m_cards = cards;
  m_stageBytes = stageBytes;
  m_start = m_clock.Now();
  m_active = true;
  SetPosition(kProgressCardOpened);
}

void CProgressBar::SetPosition(int position) {
  m_position = std::clamp(position, 0, kProgressCardDone);
  Redraw();
}

std::string CProgressBar::Render() {
  uint64_t total = 0, done = 0;
  for (int p = kProgressCardOpened + 1; p <= kProgressCardDone; ++p) {
    total += m_stageBytes[p];
    if (p <= m_position) done += m_stageBytes[p];
  }
  int filled = m_position * kBarWidth / kProgressCardDone;
  // Appended piece by piece: GCC 12 raises a false -Wrestrict on "[" + std::string&&
  // in optimised builds.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#')
      .append(static_cast<size_t>(kBarWidth - filled), '.')
      .append("]");
  double seconds = std::chrono::duration<double>(m_clock.Now() - m_start).count();
  char rate[64];
  if (done > 0 && seconds >= 0.01) {
    double bytesPerSecond = static_cast<double>(done) / seconds;
    uint64_t left = static_cast<uint64_t>(static_cast<double>(total - done) / bytesPerSecond + 0.5);
    std::snprintf(rate, sizeof rate, "%7.1f MB/s %3llu:%02llu left", bytesPerSecond / 1e6,
                  static_cast<unsigned long long>(left / 60),
                  static_cast<unsigned long long>(left % 60));
  } else {
    std::snprintf(rate, sizeof rate, "    --- MB/s  --:-- left");
  }
  char line[256];
  std::snprintf(line, sizeof line, "card %d/%d %s %2d/15 %-11s %s", m_card, m_cards, bar.c_str(),
                m_position, StageName(m_position), rate);
  std::string text = line;
  if (static_cast<int>(text.size()) >= m_columns) text.resize(m_columns - 1);
  return text;
}

void CProgressBar::Redraw() {
  if (!m_active) return;
  std::string text = "\r";
  text.append(Render()).append("\033[K");
  m_write(text);
  m_shown = true;
}

void CProgressBar::Clear() {
  if (m_shown) m_write("\r\033[K");
  m_shown = false;
}

void CProgressBar::Finish() {
  if (m_shown) m_write("\n");
  m_shown = false;
  m_active = false;
}

}  // namespace tarnwick::cli
