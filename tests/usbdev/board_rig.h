#pragma once
// A simulated board bus on a fake clock, with a downloader that reports to a
// recording operator; the board table starts empty.
#include "fake_clock.h"
#include "fake_operator.h"
#include "platform/sim/sim_board.h"
#include "usbdev/dfu_downloader.h"

namespace tarnwick::testing {

struct BoardRig {
  explicit BoardRig(size_t boards = 0) {
    for (size_t i = 0; i < boards; ++i) bus.AddDevice({});
  }
  FakeClock clock;
  SimBoardBus bus{clock};
  FakeOperator op;
  CDfuDownloader downloader{bus, op};
};

}  // namespace tarnwick::testing
