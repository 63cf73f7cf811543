#pragma once
// Device arrivals on Linux: a libudev monitor on the "udev" source, limited to
// whole disks of the block subsystem. A disk that is added, or a reader that
// keeps its identity and reports new media (a "change" with
// DISK_MEDIA_CHANGE=1), is an arrival. Open it before the boards are searched
// so that a board that presents its card quickly is not missed.
#include <mutex>
#include <string>
#include <vector>

#include "common/sys_status.h"
#include "platform/device_events.h"

struct udev;
struct udev_monitor;

namespace tarnwick {

// Whether a udev event of a whole disk counts as an arrival.
bool IsArrivalEvent(const std::string& action, const char* diskMediaChange);
// Whether the disk an arrival announced is still there as that appearance
// (its diskseq under sysRoot's class/block), when the notice is handled. udev
// hands out a busy system's events late: a board's own disk can be announced
// after it has already left, and such a notice is not a card's arrival. A
// notice that cannot be checked (no instance, a kernel without diskseq) counts
// as current.
bool ArrivalIsCurrent(const std::string& sysRoot, const DeviceNotice& notice);

class UdevMonitor final : public IDeviceEventSource {
 public:
  UdevMonitor();
  ~UdevMonitor() override;
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // Sets the monitor up; the failure says why it could not be.
  SysStatus Start();

  void Collect(DeviceEventQueue& queue) override;
  void Wait(std::chrono::milliseconds limit) override;
  // A thread that waits on the monitor's socket, receives what comes in and
  // calls `ready`; nullptr before Start succeeded.
  std::unique_ptr<DeviceWatch> Watch(std::function<void()> ready) override;

 private:
  class Watcher;
  // Receives what the socket holds into m_received; m_mutex held.
  void ReceiveLocked();

  std::mutex m_mutex;
  std::vector<DeviceNotice> m_received;
  struct udev* m_udev = nullptr;
  struct udev_monitor* m_monitor = nullptr;
  int m_fd = -1;
};

}  // namespace tarnwick
