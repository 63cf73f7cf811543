#include "cli/burn_watch.h"

#include <algorithm>

#include "cli/args.h"
#include "cli/console.h"
#include "platform/interrupt.h"

namespace tarnwick::cli {
namespace {

// Refuses every write once the stop is asked for, after flushing what was
// written: the card ends whole up to its last completed write.
class InterruptibleWriter final : public IDiskWriter {
 public:
  InterruptibleWriter(std::unique_ptr<IDiskWriter> inner, std::function<bool()> stop)
      : m_inner(std::move(inner)), m_stop(std::move(stop)) {}

  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
    if (m_stop()) {
      if (!m_flushed) {
        m_flushed = true;
        (void)m_inner->Flush();
      }
      return {std::make_error_code(std::errc::operation_canceled), kStoppedByInterrupt};
    }
    return m_inner->WriteAt(byteOffset, data, len);
  }
  SysStatus Flush() override { return m_inner->Flush(); }
  SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
    return m_inner->ReadBackAt(byteOffset, data, len);
  }
  SysStatus CheckStillTarget() override { return m_inner->CheckStillTarget(); }
  void Close() override { m_inner->Close(); }

 private:
  std::unique_ptr<IDiskWriter> m_inner;
  std::function<bool()> m_stop;
  bool m_flushed = false;
};

// At most between two surveys when the host's notices are awaited (a
// notice may be missed).
constexpr std::chrono::milliseconds kNoticeWait{2000};

}  // namespace

std::vector<DiskSlot> CInterruptibleDisks::Slots() {
  std::vector<DiskSlot> slots = m_inner.Slots();
  if (m_admitted) {
    std::erase_if(slots, [&](const DiskSlot& s) { return m_admitted->count(s.path) == 0; });
  }
  return slots;
}

SysResult<std::unique_ptr<IDiskWriter>> CInterruptibleDisks::OpenForWrite(const std::string& path) {
  if (m_stop()) {
    return SysStatus(std::make_error_code(std::errc::operation_canceled),
                     path + ": " + kStoppedByInterrupt);
  }
  SysResult<std::unique_ptr<IDiskWriter>> opened = m_inner.OpenForWrite(path);
  if (!opened) return opened;
  return std::unique_ptr<IDiskWriter>(std::make_unique<InterruptibleWriter>(opened.Take(), m_stop));
}

std::vector<CardDescription> CArrivals::Update(
    const std::vector<CardDescription>& present,
    const std::function<std::string(const std::string&)>& instanceOf) {
  std::set<std::pair<std::string, std::string>> now;
  std::vector<CardDescription> arrived;
  for (const CardDescription& card : present) {
    auto key = std::make_pair(card.device, instanceOf(card.device));
    if (!m_known.count(key)) arrived.push_back(card);
    now.insert(std::move(key));
  }
  m_known = std::move(now);
  return arrived;
}

int RunWatch(WatchContext& context) {
  IDeviceEventSource& events = context.host.Events();
  CArrivals arrivals;
  DeviceEventQueue notices;
  const auto instanceOf = [&](const std::string& path) {
    return context.disks.DiskInstanceOf(path);
  };
  context.op.PrintLine("Watching for cards: each card inserted is burned. Ctrl-C ends.\n");
  while (!InterruptRequested()) {
    context.disks.Admit(std::nullopt);
    const std::vector<CardDescription> arrived =
        arrivals.Update(SurveyCards(context.disks), instanceOf);
    if (!arrived.empty()) {
      std::set<std::string> devices;
      for (const CardDescription& card : arrived) devices.insert(card.device);
      context.disks.Admit(devices);
      context.results.StartRun(arrived);
      if (context.startRun) context.startRun();
      context.engine.RunBurn();
      context.op.FinishProgress();
      context.results.FinishRun(context.engine.LastRun(), InterruptRequested());
      if (context.endRun) context.endRun();
      // Running counts, and the bell: the operator may take the card out.
      std::string counts =
          Format("passed %d, failed %d", context.results.Passed(), context.results.Failed());
      if (context.results.Interrupted() != 0) {
        counts += Format(", interrupted %d", context.results.Interrupted());
      }
      context.op.PrintLine(counts + "\a\n");
      continue;
    }
    if (context.poll) {
      SleepUnlessInterrupted(context.pollMilliseconds);
    } else {
      // A notice only wakes the loop: the survey finds what changed.
      events.Wait(kNoticeWait);
      events.Collect(notices);
      DeviceNotice notice;
      while (notices.Pop(notice)) {
      }
    }
  }
  PrintError(Format("watch ended by Ctrl-C: %d card(s) passed, %d failed, %d interrupted",
                    context.results.Passed(), context.results.Failed(),
                    context.results.Interrupted()));
  return kInterruptedExitStatus;
}

}  // namespace tarnwick::cli
