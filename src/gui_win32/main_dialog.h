#pragma once
// The main dialog of tarnwick.exe, template IDD_MAIN: the Win32 view of
// CTarnwickDlg and the runner of its jobs. The download and the burn run on a
// worker thread; whatever they ask of the window is sent to the dialog as a
// window message and done on the dialog's thread while the worker waits, and
// the end of a job is posted. Enter, Escape and the close box end the dialog
// only while no job runs.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui_win32/cards_window.h"
#include "ui/app_services.h"
#include "ui/dialog_view.h"
#include "ui/job_runner.h"
#include "ui/tarnwick_dlg.h"

namespace tarnwick::win32gui {

// The caption of message boxes.
inline constexpr wchar_t kAppTitle[] = L"Tarnwick";

// The dialog's own window messages.
inline constexpr UINT kMsgInvoke = WM_APP + 1;        // lParam: std::function<void()>* to run here
inline constexpr UINT kMsgJobDone = WM_APP + 2;       // the worker's job has returned
inline constexpr UINT kMsgPollEvents = WM_APP + 3;    // the event source has notices
inline constexpr UINT kMsgStartupNotes = WM_APP + 4;  // show the start-up notices
inline constexpr UINT kMsgCardStatus = WM_APP + 5;    // lParam: CardStatus* to take over

class CWin32MainDialog final : public IDialogView, public IJobRunner {
 public:
  CWin32MainDialog(CAppServices& services, HINSTANCE instance);
  ~CWin32MainDialog() override;
  CWin32MainDialog(const CWin32MainDialog&) = delete;
  CWin32MainDialog& operator=(const CWin32MainDialog&) = delete;

  // Runs the dialog modally until it is closed.
  INT_PTR RunModal();
  // Creates the dialog modeless and hidden (tests); nullptr on failure.
  HWND CreateHidden();
  HWND Window() const { return m_hWnd; }
  CTarnwickDlg& Dialog() { return *m_dlg; }
  // True once the dialog has been ended (Enter, Escape, the close box).
  bool Ended() const { return m_ended; }
  bool JobRunning() const { return m_worker.joinable(); }
  // Handles window messages until no job runs any more.
  void WaitForJob();

  // Tests and screenshots answer message boxes and file pickers here instead
  // of showing them, and see the About box when it opens.
  using MessageHandler = std::function<MsgAnswer(const std::string&, MsgButtons)>;
  using PickHandler = std::function<std::optional<std::string>(const FilePickRequest&)>;
  void SetMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }
  void SetPickHandler(PickHandler handler) { m_pickHandler = std::move(handler); }
  void SetAboutHook(std::function<void(HWND)> hook) { m_aboutHook = std::move(hook); }
  // Shown one after the other once the dialog is up.
  void SetStartupNotices(std::vector<std::string> notices) { m_notices = std::move(notices); }
  // The About box opens by itself once the dialog is up.
  void OpenAboutAtStart() { m_openAbout = true; }

  // IDialogView; callable from the worker thread.
  void SetEnabled(ControlId control, bool enable) override;
  void SetChecked(ControlId control, bool checked) override;
  bool IsChecked(ControlId control) override;
  void SetText(ControlId control, const std::string& text) override;
  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override;
  std::optional<std::string> PickFile(const FilePickRequest& request) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int position) override;
  void AddAboutItem(const std::string& text) override;
  // Posted to the dialog's thread; the burn does not wait for it.
  void ShowCardStatus(const CardStatus& status) override;

  // The Cards window (system menu "Cards", or "ShowCards"=1 at start-up);
  // the disks are surveyed again each time it is opened.
  void ShowCards();
  CWin32CardsWindow* CardsWindow() const { return m_cardsWindow.get(); }

  // IJobRunner: one job at a time on a worker thread.
  void Start(std::function<void()> work, std::function<void()> done) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK AboutProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit();
  void OnCommand(int id);
  void OnPaint();
  void OnJobDone();
  void End(int result);
  void ShowAbout();
  void RegisterArrivals();
  template <typename F>
  void OnDialogThread(F&& f);
  HWND Item(ControlId control) const;

  CAppServices& m_services;
  HINSTANCE m_instance;
  HWND m_hWnd = nullptr;
  HICON m_hIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  DWORD m_threadId;
  bool m_modal = false;
  bool m_ended = false;
  bool m_openAbout = false;
  HDEVNOTIFY m_devNotify = nullptr;
  std::thread m_worker;
  std::function<void()> m_jobDone;
  MessageHandler m_messageHandler;
  PickHandler m_pickHandler;
  std::function<void(HWND)> m_aboutHook;
  std::vector<std::string> m_notices;
  std::unique_ptr<CTarnwickDlg> m_dlg;
  CCardsModel m_cards;
  std::unique_ptr<CWin32CardsWindow> m_cardsWindow;  // made when first shown
  // Tells of notices from the platform's thread; ends before m_dlg.
  std::unique_ptr<DeviceWatch> m_watch;
};

// The filter of the file-open dialog: "description|patterns|" pairs become
// the NUL-separated list, ending in two NULs, that the system takes.
std::wstring ToOpenFileFilter(const std::string& filter);
// The device-change notice's data, for the log: the device interface's name
// or the drive letters of a volume; empty when there is none.
std::string DescribeDeviceNotice(WPARAM event, LPARAM data);

}  // namespace tarnwick::win32gui
