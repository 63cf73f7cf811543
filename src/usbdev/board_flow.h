#pragma once
// Board mode as the dialog and the command line run it: Burn sends the
// download program and then waits; the first device arrival while waiting
// starts the burn run. Notices are queued and handled one after the other
// once the handler that is running has returned, never in the middle of a
// download or a burn.
#include <chrono>
#include <optional>

#include "engine/burn_engine.h"
#include "platform/clock.h"
#include "platform/device_events.h"
#include "usbdev/dfu_downloader.h"

namespace tarnwick {

class CBoardFlow {
 public:
  // events must already be watching: a card that shows up during the
  // download is then not missed.
  CBoardFlow(CBurnEngine& engine, CDfuDownloader& downloader, IDeviceEventSource& events);

  // Burn in board mode: the download, then waiting for the board's card.
  // Waiting begins whatever the download achieved (no board, a failed
  // block, an unreadable pack). A pack read the system refuses or memory
  // that cannot be had ends it instead: the error is shown and the controls
  // are enabled again.
  void OnBurnBoardMode();
  // A device-change notice. Returns true when it started a burn run. The
  // arrival of a board's own disk (as it was during the download) does not.
  bool OnDeviceChange(const DeviceNotice& notice);
  // One turn of the event loop: takes in the source's notices and handles
  // every queued one in order.
  void DispatchPending();
  // Runs the event loop until an arrival has started the burn run (true) or
  // timeout has passed (false); without a timeout it waits as long as it takes.
  bool WaitForArrival(IClock& clock, std::optional<std::chrono::seconds> timeout);

  int BurnRunsStarted() const { return m_nRuns; }

 private:
  CBurnEngine& m_engine;
  CDfuDownloader& m_downloader;
  IDeviceEventSource& m_events;
  DeviceEventQueue m_queue;
  int m_nRuns = 0;
};

}  // namespace tarnwick
