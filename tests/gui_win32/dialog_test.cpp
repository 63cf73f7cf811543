// The dialog logic through the Win32 view, on a hidden dialog made from the
// program's own template: start-up, the mode buttons, a burn onto a card
// image on the worker thread, the About box from the system menu. Message
// boxes and file pickers are answered by the test.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "burn_inputs.h"
#include "gui_win32/main_dialog.h"
#include "gui_win32/resource.h"
#include "platform/fs/win32_text.h"
#include "test_support.h"

namespace tarnwick::win32gui {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFile;

const std::string kBurnDone = "烧写完成";
constexpr auto kBurnTimeout = std::chrono::seconds(120);

// Handles the thread's window messages until `done` holds or time is up.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The MBR is in place and the FAT32 boot sector, the last thing a burn
// writes, sits where the MBR's first entry says.
bool CardComplete(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char mbr[512] = {}, boot[512] = {};
  if (!in.read(reinterpret_cast<char*>(mbr), 512)) return false;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return false;
  in.seekg(static_cast<std::streamoff>(Le32(mbr + 446 + 8)) * 512);
  if (!in.read(reinterpret_cast<char*>(boot), 512)) return false;
  return std::string(reinterpret_cast<char*>(boot) + 82, 8) == "FAT32   " && boot[510] == 0x55;
}

// The tests' windows go to a desktop of their own. Wine makes a desktop with
// the graphics driver the prefix names when the desktop is first used (the
// null driver the test set-up names), whereas the prefix's default desktop
// may have been made before, without any driver.
class TestDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::wstring name = L"tarnwick-dialog-tests-" + std::to_wstring(GetCurrentProcessId());
    if (HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr)) {
      SetThreadDesktop(desktop);
    }
  }
};
::testing::Environment* const kTestDesktop = ::testing::AddGlobalTestEnvironment(new TestDesktop);

class Win32DialogTest : public ::testing::Test {
 protected:
  Win32DialogTest() : m_oldDir(fs::current_path()) {
    fs::current_path(dir.path());
    cfg = dir.File("board.ini");
    fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/board.ini", cfg);
    pack = testing::WritePack(dir,
                              {{PackSlot::Dfu, testing::PatternBytes(3000, 1)},
                               {PackSlot::UBootBin, testing::PatternBytes(1000, 2)},
                               {PackSlot::BootImg, testing::PatternBytes(4096, 3)},
                               {PackSlot::System, testing::PatternBytes(5000, 4)}},
                              "example.pack");
  }
  ~Win32DialogTest() override {
    dialog.reset();
    services.reset();
    fs::current_path(m_oldDir);
  }

  void Settings(const std::string& text) { WriteFile(dir.File("Tarnwick.ini"), text); }

  void Open(const GuiOptions& options = {}) {
    services = std::make_unique<CAppServices>(options);
    dialog = std::make_unique<CWin32MainDialog>(*services, GetModuleHandleW(nullptr));
    dialog->SetMessageHandler([this](const std::string& text, MsgButtons buttons) {
      messages.push_back(text);
      return buttons == MsgButtons::Ok ? MsgAnswer::Ok : okCancelAnswer;
    });
    // Under Wine the first window of a new desktop can fail while the
    // desktop's own process is still starting, which takes seconds on a
    // loaded machine; tries for up to 30 s cover that.
    HWND made = nullptr;
    DWORD error = 0;
    for (int attempt = 0; attempt < 60 && made == nullptr; ++attempt) {
      if (attempt > 0) Sleep(500);
      made = dialog->CreateHidden();
      if (made == nullptr) error = GetLastError();
    }
    ASSERT_NE(made, nullptr) << "the last try failed with error " << error;
  }

  HWND Item(int id) const { return GetDlgItem(dialog->Window(), id); }
  std::wstring TextOf(int id) const {
    wchar_t text[512] = {};
    GetWindowTextW(Item(id), text, 512);
    return text;
  }
  bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  void Click(int id) {
    SendMessageW(dialog->Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  // A radio button clicked by the operator checks itself before it reports.
  void ClickRadio(int id) {
    CheckRadioButton(dialog->Window(), IDC_MODE_BOARD, IDC_MODE_READER, id);
    Click(id);
  }
  bool Finished() const {
    return !messages.empty() && messages.back() == kBurnDone &&
           dialog->Dialog().State() == DialogState::Idle && !dialog->JobRunning();
  }

  TempDir dir;
  std::string cfg, pack;
  std::vector<std::string> messages;
  MsgAnswer okCancelAnswer = MsgAnswer::Ok;
  std::unique_ptr<CAppServices> services;
  std::unique_ptr<CWin32MainDialog> dialog;

 private:
  fs::path m_oldDir;
};

TEST_F(Win32DialogTest, StartUpShowsSettingsPathsAndProgressRange) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=1\n[ResName]\nCfgFile=board.ini\nPackFile=x.pack\n");
  Open();
  EXPECT_EQ(TextOf(IDC_BURN), L"烧写");
  EXPECT_EQ(TextOf(IDC_MODE_BOARD), L"板载方式烧写");
  EXPECT_EQ(TextOf(IDC_MODE_READER), L"读卡器方式烧写");
  EXPECT_TRUE(Checked(IDC_MODE_BOARD));
  EXPECT_FALSE(Checked(IDC_MODE_READER));
  EXPECT_TRUE(Enabled(IDC_MODE_BOARD));
  const std::string cwd = dialog->Dialog().CurrentDir();
  EXPECT_EQ(win32::Narrow(TextOf(IDC_CFG_PATH)), cwd + "\\board.ini");
  EXPECT_EQ(win32::Narrow(TextOf(IDC_PACK_PATH)), cwd + "\\x.pack");

  PBRANGE range{};
  SendMessageW(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 15);
  EXPECT_EQ(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);

  // The About item, then the Cards item, close the system menu.
  HMENU menu = GetSystemMenu(dialog->Window(), FALSE);
  ASSERT_NE(menu, nullptr);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 3);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_CARDS));
  EXPECT_EQ(GetMenuItemID(menu, count - 2), static_cast<UINT>(IDM_ABOUT));
  wchar_t item[64] = {};
  GetMenuStringW(menu, IDM_ABOUT, item, 64, MF_BYCOMMAND);
  EXPECT_STREQ(item, L"Zelmar Flash...");
  EXPECT_EQ(GetMenuState(menu, count - 3, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
}

// The Cards window from the system menu: the card images as waiting (a
// missing one left out), then the updates of a run from the worker thread.
TEST_F(Win32DialogTest, CardsWindowFollowsCardUpdates) {
  const std::string card = dir.File("card.img");
  Open(GuiOptions{{card, dir.File("gone.img")}, {}});
  fs::remove(dir.File("gone.img"));
  SendMessageW(dialog->Window(), WM_SYSCOMMAND, IDM_CARDS, 0);
  ASSERT_NE(dialog->CardsWindow(), nullptr);
  HWND list = dialog->CardsWindow()->List();
  auto cell = [list](int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return std::wstring(text);
  };
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(cell(0, 3), L"waiting");
  EXPECT_EQ(cell(1, 3), L"left out: no card image file");

  std::thread worker([&] {
    CardStatus status;
    status.device = card;
    status.sizeBytes = 4ull << 30;
    status.phase = CardPhase::Writing;
    status.stage = "System";
    status.percent = 30;
    status.bytesWritten = 60'000'000;
    status.seconds = 3;
    dialog->Dialog().CardUpdate(status);
  });
  worker.join();
  EXPECT_TRUE(PumpUntil([&] { return cell(0, 3) == L"writing System 30%, 20.0 MB/s"; }))
      << win32::Narrow(cell(0, 3).c_str());
  EXPECT_EQ(cell(0, 1), L"4.0 GiB");
}

TEST_F(Win32DialogTest, BoardModeForbiddenChecksReaderAndDisablesBoard) {
  Settings("[Burn]\nCanUseBoardMode=0\nMode=1\n");
  Open();
  EXPECT_FALSE(Checked(IDC_MODE_BOARD));
  EXPECT_TRUE(Checked(IDC_MODE_READER));
  EXPECT_FALSE(Enabled(IDC_MODE_BOARD));
  EXPECT_TRUE(Enabled(IDC_MODE_READER));
  EXPECT_NE(ReadFileText(dir.File("Tarnwick.ini")).find("Mode=2"), std::string::npos);
}

TEST_F(Win32DialogTest, ModeButtonsWriteTheMode) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  Open();
  const std::string ini = dir.File("Tarnwick.ini");
  ClickRadio(IDC_MODE_BOARD);
  EXPECT_NE(ReadFileText(ini).find("Mode=1"), std::string::npos);
  EXPECT_FALSE(Checked(IDC_MODE_READER));
  ClickRadio(IDC_MODE_READER);
  EXPECT_NE(ReadFileText(ini).find("Mode=2"), std::string::npos);
}

TEST_F(Win32DialogTest, WarningCancelledChangesNothing) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\nWarningBeforeBurn=1\n");
  okCancelAnswer = MsgAnswer::Cancel;
  Open();
  Click(IDC_BURN);
  EXPECT_EQ(messages, std::vector<std::string>{"请拔出不相关USB设备，然后开始烧写"});
  EXPECT_FALSE(dialog->JobRunning());
  EXPECT_TRUE(Enabled(IDC_BURN));
  EXPECT_TRUE(Enabled(IDC_CFG_BROWSE));
}

TEST_F(Win32DialogTest, ReaderBurnOntoCardImageOnTheWorkerThread) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  const std::string card = dir.File("card1.img");
  ASSERT_TRUE(CreateCardImage(card, kNewCardImageBytes));
  Open(GuiOptions{{card}, {}});
  std::vector<FilePickRequest> picks;
  dialog->SetPickHandler([&](const FilePickRequest& request) -> std::optional<std::string> {
    picks.push_back(request);
    return request.title == "Select Config file" ? cfg : pack;
  });
  Click(IDC_CFG_BROWSE);
  Click(IDC_PACK_BROWSE);
  ASSERT_EQ(picks.size(), 2u);
  EXPECT_EQ(picks[1].title, "Select Bin file");
  EXPECT_EQ(picks[1].filter, "All Files (*.*)|*.*|");
  EXPECT_EQ(win32::Narrow(TextOf(IDC_PACK_PATH)), pack);
  EXPECT_NE(ReadFileText(dir.File("Tarnwick.ini")).find("PackFile=example.pack"),
            std::string::npos);

  Click(IDC_BURN);
  EXPECT_TRUE(dialog->JobRunning());
  // Enter, Escape and the close box are refused while the burn runs.
  SendMessageW(dialog->Window(), WM_COMMAND, IDCANCEL, 0);
  SendMessageW(dialog->Window(), WM_COMMAND, IDOK, 0);
  SendMessageW(dialog->Window(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(dialog->Ended());
  ASSERT_TRUE(PumpUntil([this] { return Finished(); }, kBurnTimeout));

  EXPECT_EQ(messages, std::vector<std::string>{kBurnDone});
  EXPECT_EQ(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 15);
  EXPECT_TRUE(Enabled(IDC_BURN));
  EXPECT_TRUE(Enabled(IDC_MODE_BOARD));
  EXPECT_TRUE(CardComplete(card));
  SendMessageW(dialog->Window(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(dialog->Ended());
}

// Board mode with no board: the download reports it, the dialog waits with
// its controls disabled, and the next arrival the system announces to the
// window starts the burn run.
TEST_F(Win32DialogTest, BoardModeWithoutBoardBurnsOnTheNextArrival) {
  Settings(
      "[Burn]\nCanUseBoardMode=1\nMode=1\n[ResName]\nCfgFile=board.ini\nPackFile=example.pack\n");
  const std::string card = dir.File("card1.img");
  ASSERT_TRUE(CreateCardImage(card, kNewCardImageBytes));
  Open(GuiOptions{{card}, {}});
  Click(IDC_BURN);
  ASSERT_TRUE(PumpUntil([this] {
    return !dialog->JobRunning() && dialog->Dialog().State() == DialogState::WaitingForBoard;
  }));
  EXPECT_EQ(messages, std::vector<std::string>{"Can't find udisk. please make sure udisk is ok."});
  EXPECT_FALSE(Enabled(IDC_BURN));
  EXPECT_FALSE(Enabled(IDC_MODE_READER));

  SendMessageW(dialog->Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  EXPECT_EQ(GetWindowLongPtrW(dialog->Window(), DWLP_MSGRESULT), TRUE);
  ASSERT_TRUE(PumpUntil([this] { return Finished(); }, kBurnTimeout));
  EXPECT_TRUE(CardComplete(card));
  EXPECT_TRUE(Enabled(IDC_BURN));
}

// An arrival while nothing waits is taken and ignored; the handler answers TRUE.
TEST_F(Win32DialogTest, DeviceArrivalWhileIdleIsIgnored) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=1\n");
  Open();
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 4;  // E:
  EXPECT_EQ(DescribeDeviceNotice(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
            "volume E:");
  SendMessageW(dialog->Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
               reinterpret_cast<LPARAM>(&volume));
  EXPECT_EQ(GetWindowLongPtrW(dialog->Window(), DWLP_MSGRESULT), TRUE);
  EXPECT_FALSE(dialog->JobRunning());
  EXPECT_EQ(dialog->Dialog().State(), DialogState::Idle);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Win32DialogTest, AboutBoxFromTheSystemMenu) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  Open();
  std::wstring caption, version, ok;
  HWND parent = nullptr;
  dialog->SetAboutHook([&](HWND about) {
    wchar_t text[128] = {};
    GetWindowTextW(about, text, 128);
    caption = text;
    GetDlgItemTextW(about, IDOK, text, 128);
    ok = text;
    parent = GetParent(about);
    // Pressing "ok" once the box runs its own loop.
    PostMessageW(about, WM_COMMAND, IDOK, 0);
  });
  // A system command with its low four bits set is still the About item.
  SendMessageW(dialog->Window(), WM_SYSCOMMAND, IDM_ABOUT | 0x3, 0);
  EXPECT_EQ(caption, L"Zelmar Flash Tool");
  EXPECT_EQ(ok, L"ok");
  EXPECT_EQ(parent, dialog->Window());
  EXPECT_FALSE(dialog->Ended());
}

TEST(OpenFileFilter, PairsBecomeNulSeparated) {
  struct Case {
    std::string filter;
    std::wstring expected;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"All Files (*.*)|*.*|", L"All Files (*.*)\0*.*\0\0"s},
      {"Images|*.img|", L"Images\0*.img\0\0"s},
      {"Images|*.img", L"Images\0*.img\0\0"s},  // last bar missing
      {"", L"\0\0"s},
  };
  for (const Case& c : cases) EXPECT_EQ(ToOpenFileFilter(c.filter), c.expected) << c.filter;
}

}  // namespace
}  // namespace tarnwick::win32gui
