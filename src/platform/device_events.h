#pragma once
// Device-change notices from the system. A source collects them (the udev
// monitor on Linux, the simulated board in tests and demos); the front end's
// event loop keeps them in a queue and hands them to the handler one after
// the other, only after the handler that is running has returned, so a
// notice that comes in during a download is seen once the download is over.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace tarnwick {

// A new device (or new media in a reader) has arrived.
inline constexpr uint32_t kDeviceArrival = 0x8000;

struct DeviceNotice {
  DeviceNotice() = default;
  DeviceNotice(uint32_t e, std::string d, std::string i = {})
      : event(e), device(std::move(d)), instance(std::move(i)) {}

  uint32_t event = 0;
  std::string device;  // what arrived, for the log
  // Which appearance of a disk arrived, in the form of the SCSI bus's
  // DiskInstanceOf ("diskseq 17" on Linux, the device instance ID on Windows);
  // empty when the system does not say.
  std::string instance;
};

class DeviceEventQueue {
 public:
  void Post(DeviceNotice notice) { m_notices.push_back(std::move(notice)); }
  [[nodiscard]] bool Pop(DeviceNotice& notice) {
    if (m_notices.empty()) return false;
    notice = std::move(m_notices.front());
    m_notices.pop_front();
    return true;
  }
  bool Empty() const { return m_notices.empty(); }

 private:
  std::deque<DeviceNotice> m_notices;
};

// A watch of a device-event source: while it lives, the source calls its
// callback whenever notices may have come in.
class DeviceWatch {
 public:
  virtual ~DeviceWatch() = default;
};

class IDeviceEventSource {
 public:
  virtual ~IDeviceEventSource() = default;
  // Starts a watch: `ready` is called from a thread of the platform whenever
  // notices may have come in, and the front end then collects them on its own
  // thread. nullptr when the source gives no such signal (the simulated
  // board: its notices are collected after each download). The source must
  // outlive the watch.
  virtual std::unique_ptr<DeviceWatch> Watch(std::function<void()> ready) {
    (void)ready;
    return nullptr;
  }
  // Appends the notices that came in since the last call; never blocks.
  virtual void Collect(DeviceEventQueue& queue) = 0;
  // Blocks until a notice may have come in, or at most `limit`.
  virtual void Wait(std::chrono::milliseconds limit) = 0;
};

// Arrivals where none are watched (a burn of named targets or discovered cards: the
// source a host gives when it is not asked to watch).
class NoDeviceEvents final : public IDeviceEventSource {
 public:
  void Collect(DeviceEventQueue&) override {}
  void Wait(std::chrono::milliseconds) override {}
};

}  // namespace tarnwick
