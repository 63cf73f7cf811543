#include "platform/win32/device_events_win32.h"

#include "platform/win32/disk_interface_win32.h"
// <dbt.h> needs <windows.h>, which the line above includes.
#include <dbt.h>

#include <cstddef>
#include <string>
#include <utility>

#include "platform/fs/win32_text.h"
#include "platform/win32/device_instance_win32.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {
namespace {

constexpr wchar_t kWindowClass[] = L"TarnwickDeviceEvents";

// The name in a device-interface notice, read no further than the notice's
// own size says.
std::string InterfaceName(const DEV_BROADCAST_HDR& header) {
  constexpr size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header.dbch_size <= kNameOffset) return {};
  const auto& notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W&>(header);
  const size_t room = (header.dbch_size - kNameOffset) / sizeof(wchar_t);
  std::wstring name(notice.dbcc_name, room);
  name.resize(name.find(L'\0') == std::wstring::npos ? room : name.find(L'\0'));
  return win32::Narrow(name);
}

// The drive letters of a volume notice ("E:", "E: F:").
std::string VolumeName(const DEV_BROADCAST_HDR& header) {
  if (header.dbch_size < sizeof(DEV_BROADCAST_VOLUME)) return {};
  const DWORD units = reinterpret_cast<const DEV_BROADCAST_VOLUME&>(header).dbcv_unitmask;
  std::string name;
  for (int drive = 0; drive < 26; ++drive) {
    if ((units & (1u << drive)) == 0) continue;
    if (!name.empty()) name += ' ';
    name += static_cast<char>('A' + drive);
    name += ':';
  }
  return name;
}

}  // namespace

DiskArrivalRegistration::~DiskArrivalRegistration() {
  if (m_notify) (void)UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(m_notify));
}

SysResult<std::unique_ptr<DiskArrivalRegistration>> RegisterDiskArrivals(void* hwnd) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = win32::kDiskInterfaceClass;
  HDEVNOTIFY notify =
      RegisterDeviceNotificationW(static_cast<HWND>(hwnd), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!notify) {
    const SysStatus error = win32::LastErrorStatus();
    return SysStatus(error.Code(), "cannot register for disk arrivals: " + error.Text());
  }
  return std::make_unique<DiskArrivalRegistration>(notify);
}

std::optional<DeviceNotice> DecodeDeviceChange(uintptr_t wParam, intptr_t lParam) {
  if (wParam != DBT_DEVICEARRIVAL) return std::nullopt;
  DeviceNotice notice{kDeviceArrival, {}};
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (!header || header->dbch_size < sizeof(DEV_BROADCAST_HDR)) return notice;
  if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    notice.device = InterfaceName(*header);
    notice.instance = win32::DeviceInstanceOfInterfacePath(notice.device);
  } else if (header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
    notice.device = VolumeName(*header);
  }
  return notice;
}

// The window procedure of the message-only window.
class DeviceEventsWindow {
 public:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* events = reinterpret_cast<Win32DeviceEvents*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
      case WM_DEVICECHANGE:
        if (events) {
          if (std::optional<DeviceNotice> notice = DecodeDeviceChange(wParam, lParam)) {
            events->Arrived(std::move(*notice));
          }
        }
        return TRUE;
      case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  }
};

SysResult<std::unique_ptr<Win32DeviceEvents>> Win32DeviceEvents::Start() {
  std::unique_ptr<Win32DeviceEvents> events(new Win32DeviceEvents());
  std::promise<SysStatus> started;
  std::future<SysStatus> result = started.get_future();
  Win32DeviceEvents* self = events.get();
  events->m_thread = std::thread([self, &started] { self->Run(started); });
  SysStatus status = result.get();
  if (!status) {
    events->m_thread.join();
    return status;
  }
  return events;
}

void Win32DeviceEvents::Run(std::promise<SysStatus>& started) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &DeviceEventsWindow::Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  // Several sources share the class; the first one registers it.
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    const SysStatus error = win32::LastErrorStatus();
    started.set_value({error.Code(), "cannot register the device window's class: " + error.Text()});
    return;
  }
  HWND window =
      CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  if (!window) {
    const SysStatus error = win32::LastErrorStatus();
    started.set_value({error.Code(), "cannot create the device window: " + error.Text()});
    return;
  }
  SysResult<std::unique_ptr<DiskArrivalRegistration>> registration = RegisterDiskArrivals(window);
  if (!registration) {
    DestroyWindow(window);
    started.set_value(registration.Status());
    return;
  }
  m_window = window;
  started.set_value(SysStatus::Ok());

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  registration.Value().reset();
}

Win32DeviceEvents::~Win32DeviceEvents() {
  if (m_thread.joinable()) {
    // The window goes on its own thread, which then leaves its message loop.
    PostMessageW(static_cast<HWND>(m_window), WM_CLOSE, 0, 0);
    m_thread.join();
  }
}

void Win32DeviceEvents::Arrived(DeviceNotice notice) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(std::move(notice));
  }
  m_arrived.notify_all();
  std::lock_guard<std::mutex> lock(m_readyMutex);
  if (m_ready) m_ready();
}

void Win32DeviceEvents::Collect(DeviceEventQueue& queue) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (DeviceNotice& notice : m_received) queue.Post(std::move(notice));
  m_received.clear();
}

void Win32DeviceEvents::Wait(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_arrived.wait_for(lock, limit, [this] { return !m_received.empty(); });
}

class Win32DeviceEvents::Watcher final : public DeviceWatch {
 public:
  explicit Watcher(Win32DeviceEvents& events) : m_events(events) {}
  ~Watcher() override {
    std::lock_guard<std::mutex> lock(m_events.m_readyMutex);
    m_events.m_ready = nullptr;
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

 private:
  Win32DeviceEvents& m_events;
};

std::unique_ptr<DeviceWatch> Win32DeviceEvents::Watch(std::function<void()> ready) {
  if (!ready) return nullptr;
  std::lock_guard<std::mutex> lock(m_readyMutex);
  m_ready = std::move(ready);
  return std::make_unique<Watcher>(*this);
}

SysResult<std::unique_ptr<IDeviceEventSource>> MakeWin32DeviceEvents() {
  SysResult<std::unique_ptr<Win32DeviceEvents>> events = Win32DeviceEvents::Start();
  if (!events) return events.Status();
  return std::unique_ptr<IDeviceEventSource>(events.Take());
}

}  // namespace tarnwick
