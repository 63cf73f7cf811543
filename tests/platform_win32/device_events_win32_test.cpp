#include "platform/win32/device_events_win32.h"

#include "platform/win32/disk_interface_win32.h"
// <dbt.h> needs <windows.h>, which the line above includes.
#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// A DEV_BROADCAST_DEVICEINTERFACE_W naming `path`, as the system sends it.
std::vector<uint8_t> InterfaceNotice(const std::wstring& path) {
  const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<uint8_t> bytes(nameOffset + (path.size() + 1) * sizeof(wchar_t), 0);
  auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  notice->dbcc_size = static_cast<DWORD>(bytes.size());
  notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(bytes.data() + nameOffset, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return bytes;
}

std::vector<uint8_t> VolumeNotice(DWORD units) {
  std::vector<uint8_t> bytes(sizeof(DEV_BROADCAST_VOLUME), 0);
  auto* notice = reinterpret_cast<DEV_BROADCAST_VOLUME*>(bytes.data());
  notice->dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
  notice->dbcv_devicetype = DBT_DEVTYP_VOLUME;
  notice->dbcv_unitmask = units;
  return bytes;
}

class Win32DeviceEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = Win32DeviceEvents::Start();
    ASSERT_TRUE(started.IsOk()) << started.Status().Text();
    events = started.Take();
    window = static_cast<HWND>(events->Window());
  }

  // Sends WM_DEVICECHANGE to the window and waits until it is handled.
  void Send(WPARAM event, std::vector<uint8_t>* notice) {
    SendMessageW(window, WM_DEVICECHANGE, event,
                 notice ? reinterpret_cast<LPARAM>(notice->data()) : 0);
  }

  std::vector<DeviceNotice> Collected() {
    DeviceEventQueue queue;
    events->Collect(queue);
    std::vector<DeviceNotice> notices;
    DeviceNotice notice;
    while (queue.Pop(notice)) notices.push_back(notice);
    return notices;
  }

  std::unique_ptr<Win32DeviceEvents> events;
  HWND window = nullptr;
};

TEST_F(Win32DeviceEventsTest, ArrivalsComeOutOfCollectAndOtherEventsAreIgnored) {
  struct Case {
    WPARAM event;
    std::vector<uint8_t> notice;  // empty: no parameter
    bool arrival;
    std::string device;
    std::string instance;  // the device instance ID the notice carries
  };
  std::vector<Case> cases = {
      {DBT_DEVICEARRIVAL, InterfaceNotice(L"\\\\?\\USBSTOR#Disk&Ven_HALDREN#7&2a1b&0#{53f56307}"),
       true, "\\\\?\\USBSTOR#Disk&Ven_HALDREN#7&2a1b&0#{53f56307}",
       "USBSTOR\\DISK&VEN_HALDREN\\7&2A1B&0"},
      {DBT_DEVICEARRIVAL, VolumeNotice((1u << 4) | (1u << 5)), true, "E: F:", ""},
      {DBT_DEVICEARRIVAL, {}, true, "", ""},
      {DBT_DEVICEREMOVECOMPLETE, InterfaceNotice(L"\\\\?\\gone"), false, "", ""},
      {DBT_DEVICEQUERYREMOVE, InterfaceNotice(L"\\\\?\\leaving"), false, "", ""},
      {DBT_DEVNODES_CHANGED, {}, false, "", ""},
  };
  for (Case& c : cases) {
    Send(c.event, c.notice.empty() ? nullptr : &c.notice);
    const std::vector<DeviceNotice> got = Collected();
    if (!c.arrival) {
      EXPECT_TRUE(got.empty()) << c.event;
      continue;
    }
    ASSERT_EQ(got.size(), 1u) << c.device;
    EXPECT_EQ(got[0].event, kDeviceArrival);
    EXPECT_EQ(got[0].device, c.device);
    EXPECT_EQ(got[0].instance, c.instance);
  }

  // A name that fills its notice without a terminating zero stays inside it.
  std::vector<uint8_t> unterminated = InterfaceNotice(L"\\\\?\\ABC");
  unterminated.resize(unterminated.size() - sizeof(wchar_t));
  reinterpret_cast<DEV_BROADCAST_HDR*>(unterminated.data())->dbch_size =
      static_cast<DWORD>(unterminated.size());
  Send(DBT_DEVICEARRIVAL, &unterminated);
  const std::vector<DeviceNotice> got = Collected();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].device, "\\\\?\\ABC");
}

TEST_F(Win32DeviceEventsTest, AnArrivalWakesWaitAndNothingElseDoes) {
  // Nothing came: Wait takes its whole limit.
  auto start = std::chrono::steady_clock::now();
  events->Wait(100ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);

  std::vector<uint8_t> removal = InterfaceNotice(L"\\\\?\\gone");
  std::vector<uint8_t> arrival = InterfaceNotice(L"\\\\?\\card");
  std::thread sender([&] {
    std::this_thread::sleep_for(50ms);
    Send(DBT_DEVICEREMOVECOMPLETE, &removal);
    std::this_thread::sleep_for(50ms);
    Send(DBT_DEVICEARRIVAL, &arrival);
  });
  start = std::chrono::steady_clock::now();
  events->Wait(20s);
  const auto waited = std::chrono::steady_clock::now() - start;
  sender.join();
  EXPECT_GE(waited, 90ms);  // the removal did not wake it
  EXPECT_LT(waited, 10s);
  // A notice not yet collected ends the next wait at once.
  start = std::chrono::steady_clock::now();
  events->Wait(20s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(Collected().size(), 1u);
}

TEST_F(Win32DeviceEventsTest, WatchIsCalledFromTheWindowsThreadUntilItEnds) {
  std::atomic<int> calls{0};
  std::atomic<DWORD> caller{0};
  auto watch = events->Watch([&] {
    caller = GetCurrentThreadId();
    ++calls;
  });
  ASSERT_NE(watch, nullptr);
  EXPECT_EQ(events->Watch(nullptr), nullptr);

  std::vector<uint8_t> arrival = InterfaceNotice(L"\\\\?\\card");
  std::vector<uint8_t> removal = InterfaceNotice(L"\\\\?\\card");
  Send(DBT_DEVICEARRIVAL, &arrival);
  Send(DBT_DEVICEREMOVECOMPLETE, &removal);
  Send(DBT_DEVICEARRIVAL, &arrival);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(caller, GetWindowThreadProcessId(window, nullptr));

  watch.reset();
  Send(DBT_DEVICEARRIVAL, &arrival);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Collected().size(), 3u);  // the notices still come in
}

TEST_F(Win32DeviceEventsTest, TheMessageOnlyWindowAndItsThreadEndWithTheSource) {
  wchar_t name[64] = {};
  ASSERT_GT(GetClassNameW(window, name, 64), 0);
  // Message-only windows are found only under HWND_MESSAGE.
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, name, nullptr), window);
  const DWORD threadId = GetWindowThreadProcessId(window, nullptr);
  EXPECT_NE(threadId, GetCurrentThreadId());
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
  ASSERT_NE(thread, nullptr);
  events.reset();
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(IsWindow(window));
  CloseHandle(thread);
}

TEST(DiskArrivalRegistrationTest, AnotherWindowCanRegisterForDiskArrivals) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  auto registration = RegisterDiskArrivals(window);
  EXPECT_TRUE(registration.IsOk()) << registration.Status().Text();
  registration.Value().reset();  // unregisters while the window lives
  DestroyWindow(window);
}

}  // namespace
}  // namespace tarnwick
