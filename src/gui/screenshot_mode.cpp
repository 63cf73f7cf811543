#include "gui/screenshot_mode.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/about_dialog.h"
#include "gui/cards_window.h"
#include "gui/main_window.h"

namespace tarnwick::gui {

namespace {

constexpr int kShotAtProgress = 9;

// Xvfb runs no window manager, so the picture gets a plain caption bar of
// its own: icon and title above the window's contents.
void SaveWithCaption(QWidget& window, const QString& path) {
  const QPixmap content = window.grab();
  const int bar = window.fontMetrics().height() + 10;
  QImage image(content.width() + 2, content.height() + bar + 1, QImage::Format_RGB32);
  image.fill(QColor(0x3c, 0x5a, 0x82));
  QPainter painter(&image);
  const int iconSize = bar - 8;
  painter.drawPixmap(5, 4, window.windowIcon().pixmap(iconSize, iconSize));
  painter.setPen(Qt::white);
  painter.setFont(window.font());
  painter.drawText(QRect(iconSize + 12, 0, content.width(), bar), Qt::AlignVCenter,
                   window.windowTitle());
  painter.drawPixmap(1, bar, content);
  painter.end();
  image.save(path);
}

void ShootAboutAndClose(CMainWindow& window, const QString& folder) {
  auto* about = new CAboutDlg(&window);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->show();
  QTimer::singleShot(500, &window, [&window, about, folder] {
    SaveWithCaption(*about, QDir(folder).filePath("about.png"));
    about->close();
    window.done(0);
  });
}

}  // namespace

QString ScreenshotFolder(const QString& variable, bool simulatedDisks, std::string* ignored) {
  if (variable.isEmpty() || simulatedDisks) return variable;
  if (ignored) {
    *ignored = std::string(kScreenshotVariable) +
               " is ignored: screenshot mode presses Burn and answers every question by "
               "itself, so it runs only with simulated disks (--card-images or "
               "--simulate-board)";
  }
  return {};
}

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
                     SaveWithCaption(window, QDir(folder).filePath("dialog.png"));
                     if (window.CardsWindow()) {
                       SaveWithCaption(*window.CardsWindow(), QDir(folder).filePath("cards.png"));
                     }
                   });
  window.ShowCards();
  QTimer::singleShot(500, &window, [&window] {
    static_cast<QPushButton*>(window.Control(ControlId::Burn))->click();
  });
}

}  // namespace tarnwick::gui
