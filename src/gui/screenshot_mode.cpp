#include "gui/screenshot_mode.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/about_dialog.h"
#include "gui/main_window.h"

namespace tarnwick::gui {

namespace {

constexpr int kShotAtProgress = 9;

void ShootAboutAndClose(CMainWindow& window, const QString& folder) {
  auto* about = new CAboutDlg(&window);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->show();
  QTimer::singleShot(500, &window, [&window, about, folder] {
    about->grab().save(QDir(folder).filePath("about.png"));
    about->close();
    window.done(0);
  });
}

}  // namespace

void StartScreenshotMode(CMainWindow& window, const QString& folder) {
  window.SetMessageHandler([&window, folder](const std::string& text, MsgButtons) {
    if (text == "烧写完成") {
      QTimer::singleShot(300, &window, [&window, folder] { ShootAboutAndClose(window, folder); });
    }
    return MsgAnswer::Ok;
  });
  auto shot = std::make_shared<bool>(false);
  QObject::connect(window.Progress(), &QProgressBar::valueChanged, &window,
                   [&window, folder, shot](int value) {
                     if (*shot || value < kShotAtProgress) return;
                     *shot = true;
                     window.grab().save(QDir(folder).filePath("dialog.png"));
                   });
  QTimer::singleShot(500, &window, [&window] {
    static_cast<QPushButton*>(window.Control(ControlId::Burn))->click();
  });
}

}  // namespace tarnwick::gui
