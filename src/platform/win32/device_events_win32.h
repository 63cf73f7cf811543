#pragma once
// Disk arrivals on Windows. A window hears of a disk through WM_DEVICECHANGE
// with DBT_DEVICEARRIVAL; top-level windows are told of new volumes only, so
// the window also registers for the disk device-interface class, which
// reports a disk that holds no volume (a blank card, a board's card) too.
// The native dialog registers its own window with RegisterDiskArrivals; the
// command line uses Win32DeviceEvents, a message-only window on a thread of
// its own.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/sys_status.h"
#include "platform/device_events.h"

namespace tarnwick {

// A window's registration for disk-interface notices; destroying it ends the
// registration (before the window goes).
class DiskArrivalRegistration {
 public:
  explicit DiskArrivalRegistration(void* notify) : m_notify(notify) {}
  ~DiskArrivalRegistration();
  DiskArrivalRegistration(const DiskArrivalRegistration&) = delete;
  DiskArrivalRegistration& operator=(const DiskArrivalRegistration&) = delete;

 private:
  void* m_notify;  // HDEVNOTIFY
};

// Registers the window `hwnd` (an HWND) for the arrivals and removals of
// disks (RegisterDeviceNotificationW, GUID_DEVINTERFACE_DISK).
SysResult<std::unique_ptr<DiskArrivalRegistration>> RegisterDiskArrivals(void* hwnd);

// What a WM_DEVICECHANGE with these parameters tells: an arrival notice
// naming the device (the interface path, or the drive letters of a volume),
// or nothing for every other event. An interface's notice also carries the
// device instance ID of its device (upper case), as the SCSI bus's
// DiskInstanceOf gives it.
std::optional<DeviceNotice> DecodeDeviceChange(uintptr_t wParam, intptr_t lParam);

class Win32DeviceEvents final : public IDeviceEventSource {
 public:
  // Creates the window on its thread and registers it; the failure says why
  // it could not be.
  static SysResult<std::unique_ptr<Win32DeviceEvents>> Start();
  // Ends the registration, the window and its thread.
  ~Win32DeviceEvents() override;
  Win32DeviceEvents(const Win32DeviceEvents&) = delete;
  Win32DeviceEvents& operator=(const Win32DeviceEvents&) = delete;

  void Collect(DeviceEventQueue& queue) override;
  void Wait(std::chrono::milliseconds limit) override;
  // `ready` is called from the window's thread after each arrival; it must
  // not wait for the front end's thread. One watch at a time.
  std::unique_ptr<DeviceWatch> Watch(std::function<void()> ready) override;

  // The message-only window (an HWND).
  void* Window() const { return m_window; }

 private:
  class Watcher;
  friend class DeviceEventsWindow;  // the window procedure
  Win32DeviceEvents() = default;
  // The window's thread: creates and registers the window, then runs its
  // message loop until the window is destroyed.
  void Run(std::promise<SysStatus>& started);
  void Arrived(DeviceNotice notice);

  void* m_window = nullptr;
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_arrived;
  std::vector<DeviceNotice> m_received;
  // Held while `ready` runs, so that a watch that ends waits for its call.
  std::mutex m_readyMutex;
  std::function<void()> m_ready;
};

}  // namespace tarnwick
