#pragma once
// An IOperator for tests: records every message box, progress position,
// refresh, enable/disable and failed-card report, and answers message boxes
// with a configurable answer. Boxes, enables and reports are also listed in
// the order they came ("box TEXT", "enable 1", "report 2"). Per-card updates
// are kept as given.
#include <functional>
#include <string>
#include <vector>

#include "engine/operator.h"

namespace tarnwick::testing {

class FakeOperator : public IOperator {
 public:
  struct Message {
    std::string text;
    MsgButtons buttons;
  };

  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override {
    messages.push_back({text, buttons});
    events.push_back("box " + text);
    return buttons == MsgButtons::Ok ? MsgAnswer::Ok : answer;
  }
  void SetProgress(int position) override {
    progress.push_back(position);
    if (onProgress) onProgress(position);
  }
  void Refresh() override { ++refreshes; }
  void EnableControls(bool enable) override {
    enables.push_back(enable);
    events.push_back(enable ? "enable 1" : "enable 0");
  }
  void ReportFailedCards(const std::vector<FailedCard>& cards) override {
    failedReports.push_back(cards);
    events.push_back("report " + std::to_string(cards.size()));
  }

  void CardUpdate(const CardStatus& status) override { cardUpdates.push_back(status); }

  // The texts of the message boxes shown, in order.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Message& m : messages) texts.push_back(m.text);
    return texts;
  }

  MsgAnswer answer = MsgAnswer::Ok;              // the answer to OK/Cancel boxes
  std::function<void(int position)> onProgress;  // called after every position
  std::vector<Message> messages;
  std::vector<int> progress;
  int refreshes = 0;
  std::vector<bool> enables;
  std::vector<std::vector<FailedCard>> failedReports;
  std::vector<std::string> events;
  std::vector<CardStatus> cardUpdates;
};

}  // namespace tarnwick::testing
