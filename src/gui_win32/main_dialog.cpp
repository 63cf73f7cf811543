#include "gui_win32/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <utility>

#include "common/debug_log.h"
#include "gui_win32/resource.h"
#include "platform/fs/win32_text.h"
#include "platform/win32/device_instance_win32.h"

namespace tarnwick::win32gui {

namespace {

using win32::Narrow;
using win32::Widen;

// The disk device interface: a disk that arrives (a card in a reader, a
// board showing its card) is announced under it.
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// Room for a long path picked in the file-open dialog.
constexpr DWORD kPickBufferChars = 32768;

void CenterOnWorkArea(HWND hWnd) {
  RECT window{}, area{};
  if (!GetWindowRect(hWnd, &window) || !SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    return;
  }
  const int width = window.right - window.left, height = window.bottom - window.top;
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::wstring ToOpenFileFilter(const std::string& filter) {
  std::wstring out = Widen(filter);
  for (wchar_t& c : out) {
    if (c == L'|') c = L'\0';
  }
  // An unterminated last pattern still needs its NUL; then the list's own.
  if (out.empty() || out.back() != L'\0') out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

std::string DescribeDeviceNotice(WPARAM event, LPARAM data) {
  (void)event;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header == nullptr) return {};
  if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    return Narrow(iface->dbcc_name);
  }
  if (header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
    const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header);
    std::string drives;
    for (int i = 0; i < 26; ++i) {
      if (volume->dbcv_unitmask & (1u << i)) drives += std::string(1, char('A' + i)) + ":";
    }
    return "volume " + drives;
  }
  return {};
}

CWin32MainDialog::CWin32MainDialog(CAppServices& services, HINSTANCE instance)
    : m_services(services), m_instance(instance), m_threadId(GetCurrentThreadId()) {
  // The progress bar's class.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  m_hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0,
                                          LR_DEFAULTSIZE | LR_SHARED));
  m_hSmallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  // The settings file is the working directory's at this moment.
  m_dlg = std::make_unique<CTarnwickDlg>(*this, *this, services.Disks(), services.Downloader(),
                                         services.Events());
  m_services.Relay().Attach(m_dlg.get());
  m_services.SetProtectedPaths([this] {
    return std::vector<ProtectedPath>{{"pack file", m_dlg->Engine().PackFile()},
                                      {"configuration file", m_dlg->Engine().CfgFile()},
                                      {"settings file", m_dlg->Settings().Path()}};
  });
}

CWin32MainDialog::~CWin32MainDialog() {
  WaitForJob();
  m_cardsWindow.reset();
  m_watch.reset();
  if (m_devNotify) UnregisterDeviceNotification(m_devNotify);
  if (m_hWnd && !m_modal) DestroyWindow(m_hWnd);
  m_services.SetProtectedPaths({});
  m_services.Relay().Attach(nullptr);
}

INT_PTR CWin32MainDialog::RunModal() {
  m_modal = true;
  return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

HWND CWin32MainDialog::CreateHidden() {
  m_modal = false;
  return CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

void CWin32MainDialog::WaitForJob() {
  while (m_worker.joinable()) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (m_hWnd == nullptr || !IsDialogMessageW(m_hWnd, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (m_worker.joinable()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

INT_PTR CALLBACK CWin32MainDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CWin32MainDialog*>(lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    self->m_hWnd = hWnd;
    self->OnInit();
    return TRUE;
  }
  auto* self = reinterpret_cast<CWin32MainDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  const INT_PTR handled = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) self->m_hWnd = nullptr;
  return handled;
}

void CWin32MainDialog::OnInit() {
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
  CenterOnWorkArea(m_hWnd);
  SendMessageW(Item(ControlId::Progress), PBM_SETSTEP, 1, 0);
  (void)m_dlg->OnInitDialog();
  RegisterArrivals();
  // The simulated board has no watch: its notices are collected after each
  // download.
  HWND hWnd = m_hWnd;
  m_watch = m_services.Events().Watch([hWnd] { PostMessageW(hWnd, kMsgPollEvents, 0, 0); });
  if (!m_notices.empty()) PostMessageW(m_hWnd, kMsgStartupNotes, 0, 0);
  if (m_openAbout) PostMessageW(m_hWnd, WM_SYSCOMMAND, IDM_ABOUT, 0);
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) AppendMenuW(menu, MF_STRING, IDM_CARDS, L"Cards");
  if (m_dlg->Settings().ReadInt("Burn", "ShowCards") == 1) {
    PostMessageW(m_hWnd, WM_SYSCOMMAND, IDM_CARDS, 0);
  }
}

void CWin32MainDialog::ShowCards() {
  if (!m_cardsWindow) m_cardsWindow = std::make_unique<CWin32CardsWindow>(m_instance, m_hWnd);
  m_cards.SetSurvey(m_services.SurveyDisks());
  m_cardsWindow->ShowRows(m_cards);
  m_cardsWindow->Show();
}

void CWin32MainDialog::ShowCardStatus(const CardStatus& status) {
  auto copy = std::make_unique<CardStatus>(status);
  if (PostMessageW(m_hWnd, kMsgCardStatus, 0, reinterpret_cast<LPARAM>(copy.get()))) {
    (void)copy.release();
  }
}

// Disks that arrive are announced to the window; volumes are announced to
// every top-level window anyway.
void CWin32MainDialog::RegisterArrivals() {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kDiskInterface;
  m_devNotify = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (m_devNotify == nullptr) {
    DebugLog(1, "Disk arrivals are not announced: %s\n", win32::LastErrorStatus().Text().c_str());
  }
}

INT_PTR CWin32MainDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      End(IDCANCEL);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUT) {
        ShowAbout();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == IDM_CARDS) {
        ShowCards();
        return TRUE;
      }
      return FALSE;
    case WM_DEVICECHANGE: {
      // An interface's name also tells the device instance of the disk.
      const std::string device = DescribeDeviceNotice(wParam, lParam);
      (void)m_dlg->OnDeviceChange(static_cast<uint32_t>(wParam), device,
                                  win32::DeviceInstanceOfInterfacePath(device));
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case WM_PAINT:
      if (!IsIconic(m_hWnd)) return FALSE;
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(m_hIcon);
    case kMsgInvoke:
      (*reinterpret_cast<std::function<void()>*>(lParam))();
      return TRUE;
    case kMsgCardStatus: {
      const std::unique_ptr<CardStatus> status(reinterpret_cast<CardStatus*>(lParam));
      m_cards.Apply(*status);
      if (m_cardsWindow) m_cardsWindow->ShowRows(m_cards);
      return TRUE;
    }
    case kMsgJobDone:
      OnJobDone();
      return TRUE;
    case kMsgPollEvents:
      m_dlg->PollDeviceEvents();
      return TRUE;
    case kMsgStartupNotes: {
      // Over the dialog, which a modal run shows only once its queue is empty.
      if (m_modal) ShowWindow(m_hWnd, SW_SHOW);
      std::vector<std::string> notices = std::move(m_notices);
      for (const std::string& notice : notices) ShowMessage(notice, MsgButtons::Ok);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void CWin32MainDialog::OnCommand(int id) {
  switch (id) {
    case IDC_CFG_BROWSE:
      m_dlg->OnBrowseCfg();
      break;
    case IDC_PACK_BROWSE:
      m_dlg->OnBrowsePack();
      break;
    case IDC_MODE_BOARD:
    case IDC_MODE_READER:
      m_dlg->OnModeClicked();
      break;
    case IDC_BURN:
      m_dlg->OnBurn();
      break;
    case IDOK:      // Enter
    case IDCANCEL:  // Escape
      End(id);
      break;
    default:
      break;
  }
}

// Minimised: the icon, centred on the erased background.
void CWin32MainDialog::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(m_hWnd, &paint);
}

void CWin32MainDialog::End(int result) {
  if (!m_dlg->CanClose() || m_ended) return;
  m_ended = true;
  if (m_modal) {
    EndDialog(m_hWnd, result);
  } else {
    ShowWindow(m_hWnd, SW_HIDE);
  }
}

void CWin32MainDialog::ShowAbout() {
  // Over the dialog, which a modal run shows only once its queue is empty.
  if (m_modal) ShowWindow(m_hWnd, SW_SHOW);
  DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUT), m_hWnd, AboutProc,
                  reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CWin32MainDialog::AboutProc(HWND hWnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<CWin32MainDialog*>(lParam);
      if (self->m_aboutHook) self->m_aboutHook(hWnd);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hWnd, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void CWin32MainDialog::Start(std::function<void()> work, std::function<void()> done) {
  if (m_worker.joinable()) m_worker.join();
  m_jobDone = std::move(done);
  HWND hWnd = m_hWnd;
  m_worker = std::thread([hWnd, work = std::move(work)] {
    work();
    PostMessageW(hWnd, kMsgJobDone, 0, 0);
  });
}

void CWin32MainDialog::OnJobDone() {
  if (m_worker.joinable()) m_worker.join();
  std::function<void()> done = std::move(m_jobDone);
  m_jobDone = nullptr;
  if (done) done();
}

template <typename F>
void CWin32MainDialog::OnDialogThread(F&& f) {
  if (GetCurrentThreadId() == m_threadId) {
    f();
    return;
  }
  // The dialog's thread runs it while this thread waits.
  std::function<void()> call = std::forward<F>(f);
  SendMessageW(m_hWnd, kMsgInvoke, 0, reinterpret_cast<LPARAM>(&call));
}

HWND CWin32MainDialog::Item(ControlId control) const {
  return GetDlgItem(m_hWnd, static_cast<int>(control));
}

void CWin32MainDialog::SetEnabled(ControlId control, bool enable) {
  OnDialogThread([&] { EnableWindow(Item(control), enable ? TRUE : FALSE); });
}

void CWin32MainDialog::SetChecked(ControlId control, bool checked) {
  OnDialogThread(
      [&] { SendMessageW(Item(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); });
}

bool CWin32MainDialog::IsChecked(ControlId control) {
  bool checked = false;
  OnDialogThread([&] { checked = SendMessageW(Item(control), BM_GETCHECK, 0, 0) == BST_CHECKED; });
  return checked;
}

void CWin32MainDialog::SetText(ControlId control, const std::string& text) {
  OnDialogThread([&] { SetWindowTextW(Item(control), Widen(text).c_str()); });
}

MsgAnswer CWin32MainDialog::ShowMessage(const std::string& text, MsgButtons buttons) {
  MsgAnswer answer = MsgAnswer::Cancel;
  OnDialogThread([&] {
    if (m_messageHandler) {
      answer = m_messageHandler(text, buttons);
      return;
    }
    const UINT type =
        (buttons == MsgButtons::Ok ? MB_OK : MB_OKCANCEL) | MB_ICONEXCLAMATION | MB_APPLMODAL;
    answer = MessageBoxW(m_hWnd, Widen(text).c_str(), kAppTitle, type) == IDOK ? MsgAnswer::Ok
                                                                               : MsgAnswer::Cancel;
  });
  return answer;
}

std::optional<std::string> CWin32MainDialog::PickFile(const FilePickRequest& request) {
  std::optional<std::string> picked;
  OnDialogThread([&] {
    if (m_pickHandler) {
      picked = m_pickHandler(request);
      return;
    }
    const std::wstring filter = ToOpenFileFilter(request.filter);
    const std::wstring title = Widen(request.title);
    const std::wstring dir = Widen(request.initialDir);
    // A pattern such as "*.*" names no extension to append.
    const std::wstring extension = request.defaultExtension.find('*') == std::string::npos
                                       ? Widen(request.defaultExtension)
                                       : std::wstring();
    std::wstring file(kPickBufferChars, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kPickBufferChars;
    ofn.lpstrInitialDir = dir.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (GetOpenFileNameW(&ofn)) picked = Narrow(file.c_str());
  });
  return picked;
}

void CWin32MainDialog::SetProgressRange(int low, int high) {
  OnDialogThread([&] { SendMessageW(Item(ControlId::Progress), PBM_SETRANGE32, low, high); });
}

void CWin32MainDialog::SetProgressPos(int position) {
  OnDialogThread([&] { SendMessageW(Item(ControlId::Progress), PBM_SETPOS, position, 0); });
}

// The item's text is the string resource's (the same words as `text`).
void CWin32MainDialog::AddAboutItem(const std::string& text) {
  (void)text;
  OnDialogThread([&] {
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (menu == nullptr) return;
    wchar_t item[128] = {};
    if (LoadStringW(m_instance, IDS_ABOUT_MENU, item, 128) <= 0) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, item);
  });
}

}  // namespace tarnwick::win32gui
