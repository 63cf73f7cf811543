#pragma once
// CTarnwickDlg: the main dialog's logic, free of any toolkit. It owns the
// burn state (through CBurnEngine) and the settings file, fills the window
// through IDialogView, and drives a burn: at once in card-reader mode; in
// board mode after the download, when the first device arrives. It is also
// the engine's and the downloader's operator.
//
// The download and the burn run as jobs (IJobRunner) so that the window keeps
// painting; while one runs, the handlers of the controls do nothing, the
// window cannot be closed and device notices wait in a queue, to be handled
// in order once the job is over.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/burn_engine.h"
#include "engine/burn_stages.h"
#include "platform/device_events.h"
#include "ui/dialog_view.h"
#include "ui/job_runner.h"
#include "ui/run_record.h"
#include "ui/settings_file.h"
#include "usbdev/board_flow.h"
#include "usbdev/dfu_downloader.h"

namespace tarnwick {

inline constexpr int kProgressMax = kProgressCardDone;
inline constexpr char kAboutMenuText[] = "Zelmar Flash...";
inline constexpr char kSelectCfgTitle[] = "Select Config file";
inline constexpr char kSelectPackTitle[] = "Select Bin file";
inline constexpr char kAllFilesFilter[] = "All Files (*.*)|*.*|";

enum class DialogState {
  Idle,             // controls enabled
  Downloading,      // board mode: the download program is being sent
  WaitingForBoard,  // board mode: the first device arrival starts the burn run
  Burning,          // the burn run
};

class CTarnwickDlg final : public IOperator {
 public:
  // The settings file is the working directory's, as it is now.
  CTarnwickDlg(IDialogView& view, IJobRunner& jobs, IDiskService& disks, CDfuDownloader& downloader,
               IDeviceEventSource& events);

  // Start-up: mode buttons and paths from the settings, progress range 0..15.
  bool OnInitDialog();
  void LoadSettings();
  void OnBrowseCfg();
  void OnBrowsePack();
  void OnModeClicked();
  void OnBurn();
  // A device-change notice. While a job runs it waits in the queue. An
  // arrival (0x8000) while a board-mode burn waits starts the burn run; every
  // other notice is ignored. Always true.
  // instance: which appearance of a disk arrived, when the system says (see
  // DeviceNotice); a board's own disk as it was during the download is not
  // the card it shows next.
  bool OnDeviceChange(uint32_t event, const std::string& data, const std::string& instance = {});
  // Takes in the notices of the event source and handles them in order.
  void PollDeviceEvents();

  // Enter, Escape and the close box end the dialog only when no job runs.
  bool CanClose() const { return !Busy(); }
  DialogState State() const { return m_state; }
  bool BoardModePermitted() const { return m_bBoardModePermitted; }
  const std::string& CurrentDir() const { return m_strCurDir; }
  CBurnEngine& Engine() { return m_engine; }
  CSettingsFile& Settings() { return m_settings; }

  // IOperator, for the engine and the downloader.
  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override;
  void SetProgress(int position) override;
  // Copies the two paths into the path boxes; the boxes are never read back.
  void Refresh() override;
  // The seven input controls; the board-mode button is enabled only when
  // board mode is permitted.
  void EnableControls(bool enable) override;
  void ReportFailedCards(const std::vector<FailedCard>& cards) override;
  // Recorded for the audit log and passed on to the window's cards view.
  void CardUpdate(const CardStatus& status) override;

 private:
  // The burn run, and when "AuditLog" names a file, one line per card
  // appended to it; a line that cannot be written is a warning in the log.
  void RunBurnRecorded();
  bool Busy() const {
    return m_state == DialogState::Downloading || m_state == DialogState::Burning;
  }
  // The file-open dialog, unless a job runs; nothing when cancelled.
  std::optional<std::string> Browse(const char* title);
  void Remember(const char* key, const std::string& path);
  // After a choice was stored: says once why it could not be, where that is
  // a settings file that is never written.
  void Remembered(bool written);
  void StartJob(DialogState state, std::function<void()> work);
  void OnJobDone();
  void DispatchNotices();

  IDialogView& m_view;
  IJobRunner& m_jobs;
  IDeviceEventSource& m_events;
  CSettingsFile m_settings;
  CRunRecorder m_recorder;  // counts the engine's writes for the audit log
  CBurnEngine m_engine;
  CBoardFlow m_boardFlow;
  DeviceEventQueue m_notices;
  std::string m_strCurDir;
  bool m_bBoardModePermitted = false;
  bool m_bToldNotRemembered = false;
  DialogState m_state = DialogState::Idle;
};

// The working directory; "." when it cannot be had (it was removed).
std::string CurrentDirectory();

}  // namespace tarnwick
