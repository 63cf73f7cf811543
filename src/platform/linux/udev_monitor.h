#pragma once
// Device arrivals on Linux: a libudev monitor on the "udev" source, limited to
// whole disks of the block subsystem. A disk that is added, or a reader that
// keeps its identity and reports new media (a "change" with
// DISK_MEDIA_CHANGE=1), is an arrival. Open it before the boards are searched
// so that a board that presents its card quickly is not missed.
#include <string>

#include "platform/device_events.h"

struct udev;
struct udev_monitor;

namespace tarnwick {

// Whether a udev event of a whole disk counts as an arrival.
bool IsArrivalEvent(const std::string& action, const char* diskMediaChange);

class UdevMonitor final : public IDeviceEventSource {
 public:
  UdevMonitor();
  ~UdevMonitor() override;
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // False when the monitor could not be set up; *error says why.
  [[nodiscard]] bool Start(std::string* error);
  // The socket to watch in an event loop; -1 before Start.
  int Fd() const { return m_fd; }

  void Collect(DeviceEventQueue& queue) override;
  void Wait(std::chrono::milliseconds limit) override;

 private:
  struct udev* m_udev = nullptr;
  struct udev_monitor* m_monitor = nullptr;
  int m_fd = -1;
};

}  // namespace tarnwick
