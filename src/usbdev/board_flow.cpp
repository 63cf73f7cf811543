#include "usbdev/board_flow.h"

#include <algorithm>

#include "common/debug_log.h"
#include "engine/errors.h"

namespace tarnwick {
namespace {

// How long one turn of the waiting loop sleeps at most.
constexpr std::chrono::milliseconds kWaitSlice{500};

}  // namespace

CBoardFlow::CBoardFlow(CBurnEngine& engine, CDfuDownloader& downloader, IDeviceEventSource& events)
    : m_engine(engine), m_downloader(downloader), m_events(events) {}

void CBoardFlow::OnBurnBoardMode() {
  // The path boxes show what is sent, as a card-reader burn shows what it burns.
  m_engine.Operator().Refresh();
  try {
    m_downloader.LoadPackForBoard(m_engine.PackFile(), m_engine.CfgFile(), m_engine.Crc(),
                                  m_engine.HeaderCopy());
  } catch (const FileError& e) {
    m_engine.Operator().ShowMessage(e.what(), MsgButtons::Ok);
    m_engine.Operator().EnableControls(true);
    return;
  } catch (const MemoryError& e) {
    m_engine.Operator().ShowMessage(e.what(), MsgButtons::Ok);
    m_engine.Operator().EnableControls(true);
    return;
  }
  // The card the board presents is a disk of its own; the board's disk as
  // it was during the download is not that card.
  m_engine.LeaveOutOfNextDiscovery(m_downloader.LastDownload().boardDisks);
  m_engine.SetWaitDevice(true);
}

bool CBoardFlow::OnDeviceChange(const DeviceNotice& notice) {
  if (notice.event != kDeviceArrival || !m_engine.WaitDevice()) return false;
  if (m_engine.IsLeftOutOfNextDiscovery(notice.instance)) {
    DebugLog(2, "Device change: %s is a board's own disk (%s); still waiting\n",
             notice.device.c_str(), notice.instance.c_str());
    return false;
  }
  m_engine.SetWaitDevice(false);
  ++m_nRuns;
  m_engine.RunBurn();
  return true;
}

void CBoardFlow::DispatchPending() {
  m_events.Collect(m_queue);
  DeviceNotice notice;
  while (m_queue.Pop(notice)) {
    DebugLog(2, "Device change 0x%x: %s\n", notice.event, notice.device.c_str());
    (void)OnDeviceChange(notice);
  }
}

bool CBoardFlow::WaitForArrival(IClock& clock, std::optional<std::chrono::seconds> timeout) {
  const int runsBefore = m_nRuns;
  const auto start = clock.Now();
  for (;;) {
    DispatchPending();
    if (m_nRuns != runsBefore) return true;
    if (!m_engine.WaitDevice()) return false;
    std::chrono::milliseconds slice = kWaitSlice;
    if (timeout) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(start + *timeout - clock.Now());
      if (left.count() <= 0) return false;
      slice = std::min(slice, left);
    }
    m_events.Wait(slice);
  }
}

}  // namespace tarnwick
