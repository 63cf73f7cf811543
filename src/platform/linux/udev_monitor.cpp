#include "platform/linux/udev_monitor.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "common/debug_log.h"

namespace tarnwick {

bool IsArrivalEvent(const std::string& action, const char* diskMediaChange) {
  if (action == "add") return true;
  return action == "change" && diskMediaChange && std::strcmp(diskMediaChange, "1") == 0;
}

UdevMonitor::UdevMonitor() = default;

UdevMonitor::~UdevMonitor() {
  if (m_monitor) udev_monitor_unref(m_monitor);
  if (m_udev) udev_unref(m_udev);
}

bool UdevMonitor::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  m_udev = udev_new();
  if (!m_udev) return fail("udev_new failed");
  m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
  if (!m_monitor) return fail("cannot open the udev monitor");
  if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", "disk") < 0) {
    return fail("cannot filter the udev monitor");
  }
  if (udev_monitor_enable_receiving(m_monitor) < 0) {
    return fail("cannot receive udev events");
  }
  m_fd = udev_monitor_get_fd(m_monitor);
  return true;
}

void UdevMonitor::Collect(DeviceEventQueue& queue) {
  if (!m_monitor) return;
  // The monitor's socket does not block: receive until it is drained.
  while (struct udev_device* device = udev_monitor_receive_device(m_monitor)) {
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    const char* media = udev_device_get_property_value(device, "DISK_MEDIA_CHANGE");
    if (action && IsArrivalEvent(action, media)) {
      queue.Post({kDeviceArrival, node ? node : ""});
    }
    udev_device_unref(device);
  }
}

void UdevMonitor::Wait(std::chrono::milliseconds limit) {
  if (m_fd < 0) return;
  struct pollfd pfd = {m_fd, POLLIN, 0};
  int ms = limit.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(limit.count());
  if (::poll(&pfd, 1, ms) < 0 && errno != EINTR) {
    DebugLog(1, "poll on the udev monitor failed, err = %d\n", errno);
  }
}

}  // namespace tarnwick
