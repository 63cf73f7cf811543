#pragma once
// Fakes around the dialog logic: a window that records what it is told and
// answers boxes and file pickers from scripts, a job runner that holds a job
// until the test lets it run, and an event source fed by the test.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_events.h"
#include "ui/dialog_view.h"
#include "ui/job_runner.h"

namespace tarnwick::testing {

class FakeView : public IDialogView {
 public:
  struct Box {
    std::string text;
    MsgButtons buttons;
  };

  void SetEnabled(ControlId control, bool enable) override { enabled[control] = enable; }
  void SetChecked(ControlId control, bool checked) override { checkedState[control] = checked; }
  bool IsChecked(ControlId control) override { return checkedState[control]; }
  void SetText(ControlId control, const std::string& text) override { texts[control] = text; }
  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override {
    boxes.push_back({text, buttons});
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return okCancelAnswer;
  }
  std::optional<std::string> PickFile(const FilePickRequest& request) override {
    picks.push_back(request);
    return pickAnswer;
  }
  void SetProgressRange(int low, int high) override { range = {low, high}; }
  void SetProgressPos(int position) override { positions.push_back(position); }
  void AddAboutItem(const std::string& text) override { aboutItem = text; }
  void ShowCardStatus(const CardStatus& status) override { cardStatuses.push_back(status); }

  bool Enabled(ControlId control) const {
    auto it = enabled.find(control);
    return it == enabled.end() || it->second;  // controls start enabled
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (const Box& b : boxes) out.push_back(b.text);
    return out;
  }

  std::map<ControlId, bool> enabled;
  std::map<ControlId, bool> checkedState;
  std::map<ControlId, std::string> texts;
  std::vector<Box> boxes;
  MsgAnswer okCancelAnswer = MsgAnswer::Ok;
  std::vector<FilePickRequest> picks;
  std::optional<std::string> pickAnswer;
  std::pair<int, int> range{-1, -1};
  std::vector<int> positions;
  std::string aboutItem;
  std::vector<CardStatus> cardStatuses;
};

// Holds each job until RunJob(); with runAtOnce it runs them as they come.
class FakeJobs : public IJobRunner {
 public:
  void Start(std::function<void()> work, std::function<void()> done) override {
    ++started;
    pending.push_back({std::move(work), std::move(done)});
    if (runAtOnce) RunAll();
  }
  void RunJob() {
    auto job = std::move(pending.front());
    pending.pop_front();
    job.first();
    job.second();
  }
  void RunAll() {
    while (!pending.empty()) RunJob();
  }

  bool runAtOnce = true;
  int started = 0;
  std::deque<std::pair<std::function<void()>, std::function<void()>>> pending;
};

class FakeEvents : public IDeviceEventSource {
 public:
  void Collect(DeviceEventQueue& queue) override {
    for (DeviceNotice& n : incoming) queue.Post(std::move(n));
    incoming.clear();
  }
  void Wait(std::chrono::milliseconds) override {}
  std::vector<DeviceNotice> incoming;
};

}  // namespace tarnwick::testing
