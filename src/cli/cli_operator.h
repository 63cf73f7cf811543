#pragma once
// The command line's operator: message boxes become lines on standard error,
// OK/Cancel questions are asked on the terminal (or answered by --yes), the
// progress position drives a progress line when standard error is a
// terminal (one plain line per stage and card when it is not), and the
// failed cards are listed at the end of a run.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/card_progress_lines.h"
#include "cli/progress_bar.h"
#include "engine/operator.h"
#include "platform/clock.h"

namespace tarnwick::cli {

struct CliOperatorOptions {
  bool assumeYes = false;      // --yes answers OK/Cancel questions with OK
  bool canAsk = false;         // a person can answer on the terminal
  bool showProgress = false;   // standard error is a terminal
  bool plainProgress = false;  // one line per stage and card, without carriage returns
  bool cardLines = false;      // with showProgress: one line per card instead of the bar
  int columns = 80;
};

class CCliOperator final : public IOperator {
 public:
  CCliOperator(IClock& clock, const CliOperatorOptions& options);

  // Called when a card starts (position 1): the bytes of each stage and the
  // card's number in the run, for the progress line's rate and time left.
  struct CardInfo {
    int card = 0, cards = 0;
    StageBytes stageBytes{};
  };
  void SetCardInfoSource(std::function<CardInfo()> source) { m_cardInfo = std::move(source); }

  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override;
  void SetProgress(int position) override;
  void Refresh() override {}
  void EnableControls(bool) override {}
  void ReportFailedCards(const std::vector<FailedCard>& cards) override;
  // Hands each card's status to the handler set and, with cardLines, to the
  // card lines (from the burning threads).
  void CardUpdate(const CardStatus& status) override;
  void SetCardUpdateHandler(std::function<void(const CardStatus&)> handler) {
    m_cardUpdate = std::move(handler);
  }
  // Prints text on standard error without tearing the progress line; any thread.
  void PrintLine(const std::string& text);

  // Prints a debug log line on standard output without tearing the progress line.
  void PrintLogLine(std::string_view line);
  // Ends the progress line (after the run).
  void FinishProgress();

 private:
  void PrintMessage(const std::string& text);

  CliOperatorOptions m_options;
  std::function<CardInfo()> m_cardInfo;
  std::function<void(const CardStatus&)> m_cardUpdate;
  std::recursive_mutex m_mutex;         // one text at a time on standard error, card lines included
  CardInfo m_plainCard;                 // the card the plain progress lines are about
  std::unique_ptr<CProgressBar> m_bar;  // null when no progress is shown
  std::unique_ptr<CCardLines> m_lines;  // null unless the cards are shown line by line
};

}  // namespace tarnwick::cli
