#pragma once
// The main window, template IDD_MAIN: the two path boxes with their "..."
// buttons, the two mode buttons, Burn and the progress bar. It is the view of
// CTarnwickDlg, which it owns. The download and the burn run on a worker
// thread; whatever they ask of the window is carried over to the window's
// thread and waited for there. Enter, Escape and the close box end the dialog
// only while no job runs.
#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gui/worker_jobs.h"
#include "ui/app_services.h"
#include "ui/cards_model.h"
#include "ui/dialog_view.h"
#include "ui/tarnwick_dlg.h"

class QAction;
class QProgressBar;

namespace tarnwick::gui {

class CCardsWindow;

inline constexpr char kMainCaption[] = "Flash Tool V1.4";
// The caption of message boxes.
inline constexpr char kAppTitle[] = "Tarnwick";

class CMainWindow final : public QDialog, public IDialogView {
  Q_OBJECT
 public:
  explicit CMainWindow(CAppServices& services);
  ~CMainWindow() override;

  // Tests and screenshots answer message boxes and file pickers here
  // instead of showing them.
  using MessageHandler = std::function<MsgAnswer(const std::string&, MsgButtons)>;
  using PickHandler = std::function<std::optional<std::string>(const FilePickRequest&)>;
  void SetMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }
  void SetPickHandler(PickHandler handler) { m_pickHandler = std::move(handler); }

  CTarnwickDlg& Dialog() { return *m_dlg; }
  QWidget* Control(ControlId control) const { return m_controls.at(control); }
  QProgressBar* Progress() const;
  // The About box, modal over the window.
  void ShowAbout();
  // The cards window (context menu, F2, or "ShowCards"=1 at start-up): the
  // disks are surveyed again each time it is opened and when a burn starts.
  void ShowCards();
  CCardsWindow* CardsWindow() const { return m_cardsWindow; }
  CCardsModel& Cards() { return m_cards; }

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
  void ShowCardStatus(const CardStatus& status) override;

 public slots:
  // Every way of ending the dialog comes here; refused while a job runs.
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateControls();
  template <typename F>
  void OnGuiThread(F&& f);

  CAppServices& m_services;
  CWorkerJobs m_jobs;
  std::map<ControlId, QWidget*> m_controls;
  QAction* m_aboutAction = nullptr;
  QAction* m_cardsAction = nullptr;
  CCardsModel m_cards;
  CCardsWindow* m_cardsWindow = nullptr;  // made when first shown
  MessageHandler m_messageHandler;
  PickHandler m_pickHandler;
  std::unique_ptr<CTarnwickDlg> m_dlg;
  // Tells of arrivals from the platform's thread; ends before m_dlg.
  std::unique_ptr<DeviceWatch> m_watch;
};

}  // namespace tarnwick::gui
