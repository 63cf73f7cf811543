#include "ui/tarnwick_dlg.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "common/debug_log.h"
#include "platform/host.h"

namespace tarnwick {

namespace {

// Path boxes show the directory and the name joined by the system's
// separator; the settings keep the bare name.
std::string JoinPath(const std::string& dir, const std::string& name) {
  return dir + static_cast<char>(std::filesystem::path::preferred_separator) + name;
}

std::string BareName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string CurrentDirectory() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  return ec ? std::string(".") : dir.string();
}

CTarnwickDlg::CTarnwickDlg(IDialogView& view, IJobRunner& jobs, IDiskService& disks,
                           CDfuDownloader& downloader, IDeviceEventSource& events)
    : m_view(view),
      m_jobs(jobs),
      m_events(events),
      m_recorder(disks, SystemClock()),
      m_engine(m_recorder.Disks(), *this, m_settings),
      m_boardFlow(m_engine, downloader, events) {}

bool CTarnwickDlg::OnInitDialog() {
  m_view.AddAboutItem(kAboutMenuText);
  // Unreadable settings read as defaults, as always; the operator is told.
  if (const std::string problem = m_settings.ReadProblem(); !problem.empty()) {
    m_view.ShowMessage(problem, MsgButtons::Ok);
  }
  LoadSettings();
  Refresh();
  m_engine.SetWaitDevice(false);
  m_view.SetProgressRange(0, kProgressMax);
  m_view.SetProgressPos(0);
  Refresh();
  return true;
}

void CTarnwickDlg::LoadSettings() {
  const ModeSettings modes = ReconcileModeSettings(m_settings);
  m_bBoardModePermitted = modes.boardModePermitted;
  if (!m_bBoardModePermitted) m_view.SetEnabled(ControlId::ModeBoard, false);
  const bool board = modes.mode == kModeBoard;
  m_view.SetChecked(ControlId::ModeBoard, board);
  m_view.SetChecked(ControlId::ModeReader, !board);

  m_strCurDir = CurrentDirectory();
  m_engine.SetCfgFile(JoinPath(m_strCurDir, m_settings.ReadString("ResName", "CfgFile")));
  m_engine.SetPackFile(JoinPath(m_strCurDir, m_settings.ReadString("ResName", "PackFile")));
}

void CTarnwickDlg::OnBrowseCfg() {
  if (auto picked = Browse(kSelectCfgTitle)) {
    m_engine.SetCfgFile(*picked);
    Remember("CfgFile", *picked);
  }
}

void CTarnwickDlg::OnBrowsePack() {
  if (auto picked = Browse(kSelectPackTitle)) {
    m_engine.SetPackFile(*picked);
    Remember("PackFile", *picked);
  }
}

// The paths belong to the job while one runs, so nothing is picked then.
std::optional<std::string> CTarnwickDlg::Browse(const char* title) {
  if (Busy()) return std::nullopt;
  FilePickRequest request{title, kAllFilesFilter, "*.*", CurrentDirectory()};
  return m_view.PickFile(request);
}

// A picked file is shown at once and its name kept in the settings file.
void CTarnwickDlg::Remember(const char* key, const std::string& path) {
  Refresh();
  Remembered(m_settings.WriteString("ResName", key, BareName(path)));
}

void CTarnwickDlg::Remembered(bool written) {
  if (written || m_bToldNotRemembered) return;
  if (const std::string refusal = m_settings.WriteRefusal(); !refusal.empty()) {
    m_bToldNotRemembered = true;
    m_view.ShowMessage(refusal, MsgButtons::Ok);
  }
}

void CTarnwickDlg::OnModeClicked() {
  if (Busy()) return;
  const int mode = m_view.IsChecked(ControlId::ModeBoard) ? kModeBoard : kModeReader;
  Remembered(m_settings.WriteInt("Burn", "Mode", mode));
}

void CTarnwickDlg::OnBurn() {
  if (m_state != DialogState::Idle) return;
  if (m_settings.ReadInt("Burn", "WarningBeforeBurn") == 1 &&
      m_view.ShowMessage(kWarningBeforeBurnText, MsgButtons::OkCancel) != MsgAnswer::Ok) {
    return;
  }
  EnableControls(false);
  // The buttons decide, not the settings file.
  if (m_view.IsChecked(ControlId::ModeBoard)) {
    StartJob(DialogState::Downloading, [this] { m_boardFlow.OnBurnBoardMode(); });
  } else if (m_view.IsChecked(ControlId::ModeReader)) {
    StartJob(DialogState::Burning, [this] { RunBurnRecorded(); });
  }
}

bool CTarnwickDlg::OnDeviceChange(uint32_t event, const std::string& data,
                                  const std::string& instance) {
  if (Busy()) {
    m_notices.Post({event, data, instance});
    return true;
  }
  DebugLog(2, "Device change 0x%x: %s\n", event, data.c_str());
  if (event == kDeviceArrival && m_engine.WaitDevice() &&
      m_engine.IsLeftOutOfNextDiscovery(instance)) {
    DebugLog(2, "Device change: %s is a board's own disk (%s); still waiting\n", data.c_str(),
             instance.c_str());
  } else if (event == kDeviceArrival && m_engine.WaitDevice()) {
    m_engine.SetWaitDevice(false);
    StartJob(DialogState::Burning, [this] { RunBurnRecorded(); });
  }
  return true;
}

void CTarnwickDlg::PollDeviceEvents() {
  m_events.Collect(m_notices);
  DispatchNotices();
}

// A notice that starts a burn leaves the rest in the queue until the burn is over.
void CTarnwickDlg::DispatchNotices() {
  DeviceNotice notice;
  while (!Busy() && m_notices.Pop(notice)) (void)OnDeviceChange(notice.event, notice.device, notice.instance);
}

void CTarnwickDlg::RunBurnRecorded() {
  const std::string audit = m_settings.ReadPath("Burn", "AuditLog");
  if (!audit.empty()) m_recorder.Start(m_engine.CfgFile(), m_engine.PackFile());
  m_engine.RunBurn();
  if (audit.empty()) return;
  RunRecord run = m_recorder.Finish(m_engine, [](const std::string& device) {
    const DiskIdentity id = IdentifyDisk(device);
    return CardIdentity{id.vendor, id.model, {}};
  });
  run.tool = "tarnwick";
  for (const std::string& warning : AppendAuditLog(audit, run, m_settings)) {
    DebugLog(1, "AuditLog: warning: %s\n", warning.c_str());
  }
}

// The job's own errors are handled where they arise; anything else that
// escapes is the application's top-level error report: shown, and the dialog
// goes back to Idle with its controls enabled.
void CTarnwickDlg::StartJob(DialogState state, std::function<void()> work) {
  m_state = state;
  auto guarded = [this, work = std::move(work)] {
    try {
      work();
    } catch (const std::exception& e) {
      DebugLog(1, "Unexpected error: %s\n", e.what());
      m_engine.SetWaitDevice(false);
      EnableControls(true);
      ShowMessage(e.what(), MsgButtons::Ok);
    }
  };
  m_jobs.Start(std::move(guarded), [this] { OnJobDone(); });
}

void CTarnwickDlg::OnJobDone() {
  m_state = m_engine.WaitDevice() ? DialogState::WaitingForBoard : DialogState::Idle;
  PollDeviceEvents();
}

MsgAnswer CTarnwickDlg::ShowMessage(const std::string& text, MsgButtons buttons) {
  return m_view.ShowMessage(text, buttons);
}

void CTarnwickDlg::SetProgress(int position) {
  m_view.SetProgressPos(position);
}

void CTarnwickDlg::Refresh() {
  m_view.SetText(ControlId::CfgPath, m_engine.CfgFile());
  m_view.SetText(ControlId::PackPath, m_engine.PackFile());
}

void CTarnwickDlg::EnableControls(bool enable) {
  m_view.SetEnabled(ControlId::CfgBrowse, enable);
  m_view.SetEnabled(ControlId::PackBrowse, enable);
  m_view.SetEnabled(ControlId::Burn, enable);
  m_view.SetEnabled(ControlId::ModeBoard, enable && m_bBoardModePermitted);
  m_view.SetEnabled(ControlId::ModeReader, enable);
  m_view.SetEnabled(ControlId::CfgPath, enable);
  m_view.SetEnabled(ControlId::PackPath, enable);
}

// The final message alone would say "complete" over a card that was not
// written, so the cards that failed are named first.
void CTarnwickDlg::ReportFailedCards(const std::vector<FailedCard>& cards) {
  std::string text = "Cards not written completely:";
  for (const FailedCard& card : cards) {
    text += "\nslot " + std::to_string(card.slot) + " " + card.device + ": " + card.reason;
  }
  m_view.ShowMessage(text, MsgButtons::Ok);
}

// Recorded for the audit log and passed on to the window's cards view.
void CTarnwickDlg::CardUpdate(const CardStatus& status) {
  m_recorder.CardUpdate(status);
  m_view.ShowCardStatus(status);
}

}  // namespace tarnwick
