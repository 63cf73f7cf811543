#include "gui/main_window.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <algorithm>

#include "gui/about_dialog.h"
#include "gui/app_icon.h"
#include "gui/cards_window.h"
#include "gui/dialog_template.h"
#include "gui/name_filters.h"

namespace tarnwick::gui {

namespace {

struct TemplateControl {
  ControlId id;
  const char* name;
  int x, y, width, height;
};

// In tab order, as the template lists them.
const TemplateControl kControls[] = {
    {ControlId::CfgPath, "IDC_CFG_PATH", 64, 20, 184, 14},
    {ControlId::CfgBrowse, "IDC_CFG_BROWSE", 272, 20, 42, 14},
    {ControlId::PackPath, "IDC_PACK_PATH", 64, 55, 184, 14},
    {ControlId::PackBrowse, "IDC_PACK_BROWSE", 270, 55, 44, 14},
    {ControlId::ModeBoard, "IDC_MODE_BOARD", 85, 81, 64, 10},
    {ControlId::ModeReader, "IDC_MODE_READER", 177, 81, 72, 10},
    {ControlId::Burn, "IDC_BURN", 269, 81, 45, 14},
    {ControlId::Progress, "IDC_PROGRESS", 15, 105, 304, 14},
};

struct TemplateLabel {
  const char* text;
  int x, y, width, height;
};

const TemplateLabel kLabels[] = {
    {"配置文件", 12, 22, 42, 8},
    {"打包文件123", 12, 59, 40, 8},
    {"", 14, 68, 8, 8},
};

}  // namespace

CMainWindow::CMainWindow(CAppServices& services)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_services(services) {
  setObjectName("IDD_MAIN");
  setWindowTitle(kMainCaption);
  setWindowIcon(AppIcon());
  setFont(DialogFont(8));
  CreateControls();

  m_dlg = std::make_unique<CTarnwickDlg>(*this, m_jobs, services.Disks(), services.Downloader(),
                                         services.Events());
  m_services.Relay().Attach(m_dlg.get());
  m_services.SetProtectedPaths([this] {
    return std::vector<ProtectedPath>{{"pack file", m_dlg->Engine().PackFile()},
                                      {"configuration file", m_dlg->Engine().CfgFile()},
                                      {"settings file", m_dlg->Settings().Path()}};
  });
  // The watch calls from a thread of the platform; the notices are collected
  // and handled on the window's thread.
  m_watch = services.Events().Watch([this] {
    QMetaObject::invokeMethod(
        this, [this] { m_dlg->PollDeviceEvents(); }, Qt::QueuedConnection);
  });
  (void)m_dlg->OnInitDialog();

  m_cardsAction = new QAction(QString::fromUtf8(kCardsCaption), this);
  m_cardsAction->setShortcut(Qt::Key_F2);
  m_cardsAction->setShortcutContext(Qt::WindowShortcut);
  addAction(m_cardsAction);
  connect(m_cardsAction, &QAction::triggered, this, &CMainWindow::ShowCards);
  // A burn about to start: the window shows the cards it will find.
  connect(static_cast<QPushButton*>(m_controls.at(ControlId::Burn)), &QPushButton::pressed, this,
          [this] {
            if (m_cardsWindow && m_cardsWindow->isVisible()) {
              m_cards.SetSurvey(m_services.SurveyDisks());
              m_cardsWindow->ShowRows(m_cards);
            }
          });
  if (m_dlg->Settings().ReadInt("Burn", "ShowCards") == 1) {
    QMetaObject::invokeMethod(
        this, [this] { ShowCards(); }, Qt::QueuedConnection);
  }
}

CMainWindow::~CMainWindow() {
  m_watch.reset();
  m_services.SetProtectedPaths({});
  m_services.Relay().Attach(nullptr);
}

void CMainWindow::CreateControls() {
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(ToPixels(units, 0, 0, 344, 138).size());

  auto* cfgPath = new QLineEdit(this);
  auto* cfgBrowse = new QPushButton("...", this);
  auto* packPath = new QLineEdit(this);
  auto* packBrowse = new QPushButton("...", this);
  auto* board = new QRadioButton("板载方式烧写", this);
  auto* reader = new QRadioButton("读卡器方式烧写", this);
  auto* burn = new QPushButton("烧写", this);
  auto* progress = new QProgressBar(this);
  progress->setTextVisible(false);
  QWidget* const widgets[] = {cfgPath, cfgBrowse, packPath, packBrowse,
                              board,   reader,    burn,     progress};
  QWidget* previous = nullptr;
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const TemplateControl& item = kControls[i];
    QWidget* widget = widgets[i];
    widget->setObjectName(item.name);
    widget->setGeometry(ToPixels(units, item.x, item.y, item.width, item.height));
    m_controls[item.id] = widget;
    if (item.id == ControlId::Progress) {
      widget->setFocusPolicy(Qt::NoFocus);
      continue;
    }
    if (previous) setTabOrder(previous, widget);
    previous = widget;
  }
  for (const TemplateLabel& item : kLabels) {
    auto* label = new QLabel(QString::fromUtf8(item.text), this);
    // The captions were measured with a narrower font: a label grows to its
    // text rather than cut it, as there is room before the path boxes.
    QRect rect = ToPixels(units, item.x, item.y, item.width, item.height);
    rect.setWidth(std::max(rect.width(), label->sizeHint().width()));
    label->setGeometry(rect);
  }
  // Enter on a focused push button presses it; elsewhere it ends the dialog.
  for (QPushButton* button : {cfgBrowse, packBrowse, burn}) button->setAutoDefault(false);

  connect(cfgBrowse, &QPushButton::clicked, this, [this] { m_dlg->OnBrowseCfg(); });
  connect(packBrowse, &QPushButton::clicked, this, [this] { m_dlg->OnBrowsePack(); });
  connect(board, &QRadioButton::clicked, this, [this] { m_dlg->OnModeClicked(); });
  connect(reader, &QRadioButton::clicked, this, [this] { m_dlg->OnModeClicked(); });
  connect(burn, &QPushButton::clicked, this, [this] { m_dlg->OnBurn(); });
}

QProgressBar* CMainWindow::Progress() const {
  return static_cast<QProgressBar*>(m_controls.at(ControlId::Progress));
}

template <typename F>
void CMainWindow::OnGuiThread(F&& f) {
  if (QThread::currentThread() == thread()) {
    f();
  } else {
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
  }
}

void CMainWindow::SetEnabled(ControlId control, bool enable) {
  OnGuiThread([&] { m_controls.at(control)->setEnabled(enable); });
}

void CMainWindow::SetChecked(ControlId control, bool checked) {
  OnGuiThread([&] { static_cast<QAbstractButton*>(m_controls.at(control))->setChecked(checked); });
}

bool CMainWindow::IsChecked(ControlId control) {
  bool checked = false;
  OnGuiThread(
      [&] { checked = static_cast<QAbstractButton*>(m_controls.at(control))->isChecked(); });
  return checked;
}

void CMainWindow::SetText(ControlId control, const std::string& text) {
  OnGuiThread([&] {
    auto* edit = static_cast<QLineEdit*>(m_controls.at(control));
    edit->setText(QString::fromStdString(text));
    edit->setCursorPosition(0);
  });
}

MsgAnswer CMainWindow::ShowMessage(const std::string& text, MsgButtons buttons) {
  MsgAnswer answer = MsgAnswer::Cancel;
  OnGuiThread([&] {
    if (m_messageHandler) {
      answer = m_messageHandler(text, buttons);
      return;
    }
    QMessageBox box(
        QMessageBox::Warning, kAppTitle, QString::fromStdString(text),
        buttons == MsgButtons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setWindowModality(Qt::ApplicationModal);
    answer = box.exec() == QMessageBox::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
  });
  return answer;
}

std::optional<std::string> CMainWindow::PickFile(const FilePickRequest& request) {
  std::optional<std::string> picked;
  OnGuiThread([&] {
    if (m_pickHandler) {
      picked = m_pickHandler(request);
      return;
    }
    QFileDialog dialog(this, QString::fromStdString(request.title),
                       QString::fromStdString(request.initialDir));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(ToQtNameFilters(request.filter));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      picked = dialog.selectedFiles().front().toStdString();
    }
  });
  return picked;
}

void CMainWindow::SetProgressRange(int low, int high) {
  OnGuiThread([&] { Progress()->setRange(low, high); });
}

void CMainWindow::SetProgressPos(int position) {
  OnGuiThread([&] { Progress()->setValue(position); });
}

void CMainWindow::AddAboutItem(const std::string& text) {
  m_aboutAction = new QAction(QString::fromStdString(text), this);
  m_aboutAction->setShortcut(Qt::Key_F1);
  m_aboutAction->setShortcutContext(Qt::WindowShortcut);
  addAction(m_aboutAction);
  connect(m_aboutAction, &QAction::triggered, this, &CMainWindow::ShowAbout);
}

void CMainWindow::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainWindow::ShowCards() {
  if (!m_cardsWindow) m_cardsWindow = new CCardsWindow(this);
  m_cards.SetSurvey(m_services.SurveyDisks());
  m_cardsWindow->ShowRows(m_cards);
  m_cardsWindow->show();
  m_cardsWindow->raise();
}

// Not waited for: the burn goes on while the window catches up, in order.
void CMainWindow::ShowCardStatus(const CardStatus& status) {
  QMetaObject::invokeMethod(
      this,
      [this, status] {
        m_cards.Apply(status);
        if (m_cardsWindow) m_cardsWindow->ShowRows(m_cards);
      },
      Qt::QueuedConnection);
}

void CMainWindow::done(int result) {
  if (!m_dlg->CanClose()) return;
  QDialog::done(result);
}

void CMainWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
    } else {
      accept();
    }
    return;
  }
  QDialog::keyPressEvent(event);
}

void CMainWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_aboutAction) return;
  QMenu menu(this);
  menu.addAction(m_aboutAction);
  if (m_cardsAction) menu.addAction(m_cardsAction);
  menu.exec(event->globalPos());
}

}  // namespace tarnwick::gui
