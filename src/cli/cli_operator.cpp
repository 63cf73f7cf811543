#include "cli/cli_operator.h"

#include <cctype>
#include <cstdio>
#include <iostream>

#include "cli/console.h"

namespace tarnwick::cli {

CCliOperator::CCliOperator(IClock& clock, const CliOperatorOptions& options) : m_options(options) {
  if (options.showProgress && options.cardLines) {
    m_lines =
        std::make_unique<CCardLines>([](const std::string& text) { Err(text); }, options.columns);
  } else if (options.showProgress) {
    m_bar = std::make_unique<CProgressBar>(
        clock, [](const std::string& text) { Err(text); }, options.columns);
  }
}

void CCliOperator::PrintMessage(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_bar) m_bar->Clear();
  if (m_lines) m_lines->Clear();
  Err(text + "\n");
  if (m_bar) m_bar->Redraw();
  if (m_lines) m_lines->Redraw();
}

void CCliOperator::CardUpdate(const CardStatus& status) {
  if (m_cardUpdate) m_cardUpdate(status);
  if (!m_lines) return;
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  m_lines->Update(status);
}

MsgAnswer CCliOperator::ShowMessage(const std::string& text, MsgButtons buttons) {
  if (buttons == MsgButtons::Ok) {
    PrintMessage(text);
    return MsgAnswer::Ok;
  }
  if (m_options.assumeYes) {
    PrintMessage(text + " [OK: --yes]");
    return MsgAnswer::Ok;
  }
  if (!m_options.canAsk) {
    PrintMessage(text + " [Cancel: no terminal to answer on; --yes answers OK]");
    return MsgAnswer::Cancel;
  }
  if (m_bar) m_bar->Clear();
  Err(Format("%s\nOK or Cancel? [o/C] ", text.c_str()));
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  for (auto& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  bool ok = answer == "o" || answer == "ok" || answer == "y" || answer == "yes";
  if (m_bar) m_bar->Redraw();
  return ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

void CCliOperator::SetProgress(int position) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_options.plainProgress) {
    if (position == 1 && m_cardInfo) m_plainCard = m_cardInfo();
    if (position >= 1) {
      Err(Format("card %d/%d %2d/15 %s\n", m_plainCard.card, m_plainCard.cards, position,
                 StageName(position)));
    }
    return;
  }
  if (!m_bar) return;
  if (position == 1 && m_cardInfo) {
    CardInfo info = m_cardInfo();
    m_bar->StartCard(info.card, info.cards, info.stageBytes);
  } else {
    m_bar->SetPosition(position);
  }
}

void CCliOperator::ReportFailedCards(const std::vector<FailedCard>& cards) {
  std::string text = "Cards not written completely:";
  for (const auto& card : cards) {
    text += "\n  slot " + std::to_string(card.slot) + " " + card.device + ": " + card.reason;
  }
  PrintMessage(text);
}

void CCliOperator::PrintLine(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_bar) m_bar->Clear();
  if (m_lines) m_lines->Clear();
  Err(text);
  if (m_bar) m_bar->Redraw();
  if (m_lines) m_lines->Redraw();
}

void CCliOperator::PrintLogLine(std::string_view line) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_bar) m_bar->Clear();
  if (m_lines) m_lines->Clear();
  Out(line);
  if (m_bar) m_bar->Redraw();
  if (m_lines) m_lines->Redraw();
}

void CCliOperator::FinishProgress() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_bar) m_bar->Finish();
}

}  // namespace tarnwick::cli
