#pragma once
// The terminal view of a parallel burn: one line per card (device, phase or
// stage, percent, write rate), redrawn in place as the cards advance.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "engine/operator.h"

namespace tarnwick::cli {

class CCardLines {
 public:
  using Writer = std::function<void(const std::string&)>;
  CCardLines(Writer write, int columns) : m_write(std::move(write)), m_columns(columns) {}

  void Update(const CardStatus& status);
  // Erases the lines so that other output can be printed, and draws them again.
  void Clear();
  void Redraw();

  // One card's line as drawn (without control codes).
  static std::string Render(const CardStatus& status, int columns);

 private:
  Writer m_write;
  int m_columns;
  std::map<int, CardStatus> m_cards;  // by slot
  size_t m_shown = 0;                 // lines on the terminal now
};

}  // namespace tarnwick::cli
