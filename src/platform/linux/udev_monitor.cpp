#include "platform/linux/udev_monitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/debug_log.h"
#include "platform/linux/disk_instance.h"
#include "platform/linux/errno_status.h"

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

SysStatus UdevMonitor::Start() {
  auto fail = [](const char* what) {
    const int err = errno;
    return ErrnoStatus(err, std::string(what) + ": " + std::strerror(err));
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
  return SysStatus::Ok();
}

void UdevMonitor::ReceiveLocked() {
  // The monitor's socket does not block: receive until it is drained.
  while (struct udev_device* device = udev_monitor_receive_device(m_monitor)) {
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    const char* media = udev_device_get_property_value(device, "DISK_MEDIA_CHANGE");
    if (action && IsArrivalEvent(action, media)) {
      const char* seq = udev_device_get_property_value(device, "DISKSEQ");
      m_received.push_back(
          {kDeviceArrival, node ? node : "", seq ? DiskInstanceFromSeq(seq) : std::string()});
    }
    udev_device_unref(device);
  }
}

bool ArrivalIsCurrent(const std::string& sysRoot, const DeviceNotice& notice) {
  if (notice.instance.empty()) return true;
  const std::string name = std::filesystem::path(notice.device).filename().string();
  if (name.empty()) return true;
  const std::string dir = sysRoot + "/class/block/" + name;
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) return false;
  const std::string now = ReadDiskInstance(dir);
  return now.empty() || now == notice.instance;
}

void UdevMonitor::Collect(DeviceEventQueue& queue) {
  if (!m_monitor) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  ReceiveLocked();
  for (DeviceNotice& notice : m_received) {
    if (notice.event == kDeviceArrival && !ArrivalIsCurrent("/sys", notice)) {
      DebugLog(2, "Device change: %s (%s) has gone again; not an arrival\n", notice.device.c_str(),
               notice.instance.c_str());
      continue;
    }
    queue.Post(std::move(notice));
  }
  m_received.clear();
}

// The watching thread polls the monitor's socket and a pipe that ends it.
class UdevMonitor::Watcher final : public DeviceWatch {
 public:
  Watcher(UdevMonitor& monitor, std::function<void()> ready, int stopRead, int stopWrite)
      : m_monitor(monitor),
        m_ready(std::move(ready)),
        m_stopRead(stopRead),
        m_stopWrite(stopWrite) {
    m_thread = std::thread([this] { Run(); });
  }
  ~Watcher() override {
    const char byte = 0;
    while (::write(m_stopWrite, &byte, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    ::close(m_stopRead);
    ::close(m_stopWrite);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

 private:
  void Run() {
    for (;;) {
      struct pollfd fds[2] = {{m_monitor.m_fd, POLLIN, 0}, {m_stopRead, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
      if (fds[0].revents == 0) continue;
      bool any = false;
      {
        std::lock_guard<std::mutex> lock(m_monitor.m_mutex);
        m_monitor.ReceiveLocked();
        any = !m_monitor.m_received.empty();
      }
      if (any) m_ready();
    }
  }

  UdevMonitor& m_monitor;
  std::function<void()> m_ready;
  int m_stopRead;
  int m_stopWrite;
  std::thread m_thread;
};

std::unique_ptr<DeviceWatch> UdevMonitor::Watch(std::function<void()> ready) {
  if (m_fd < 0 || !ready) return nullptr;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return nullptr;
  return std::make_unique<Watcher>(*this, std::move(ready), pipeFds[0], pipeFds[1]);
}

void UdevMonitor::Wait(std::chrono::milliseconds limit) {
  if (m_fd < 0) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_received.empty()) return;
  }
  struct pollfd pfd = {m_fd, POLLIN, 0};
  int ms = limit.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(limit.count());
  if (::poll(&pfd, 1, ms) < 0 && errno != EINTR) {
    DebugLog(1, "poll on the udev monitor failed, err = %d\n", errno);
  }
}

}  // namespace tarnwick
