#pragma once
// The burn's progress line on a terminal: a bar with the stage being
// written, the write rate and the time left. Time comes from the clock seam.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/burn_stages.h"
#include "platform/clock.h"

namespace tarnwick::cli {

// Bytes each stage writes: entry p holds the bytes written between progress
// positions p - 1 and p (positions 1..15 of one card).
using StageBytes = std::array<uint64_t, kProgressCardDone + 1>;

// Name of the stage that runs after progress position p has been reached.
const char* StageName(int position);

class CProgressBar {
 public:
  using Writer = std::function<void(const std::string&)>;
  CProgressBar(IClock& clock, Writer write, int columns);

  // A new card starts (position 1): card is 1-based, of cards in the run.
  void StartCard(int card, int cards, const StageBytes& stageBytes);
  void SetPosition(int position);
  // Erases the line so that other output can be printed, and draws it again.
  void Clear();
  void Redraw();
  // Ends the line for good (after the last card).
  void Finish();

  // The text of the line as it would be drawn now (without control codes).
  std::string Render();

 private:
  IClock& m_clock;
  Writer m_write;
  int m_columns;
  bool m_active = false;
  bool m_shown = false;
  int m_card = 0, m_cards = 0, m_position = 0;
  StageBytes m_stageBytes{};
  std::chrono::steady_clock::time_point m_start{};
};

}  // namespace tarnwick::cli
