// tarnwick: the dialog. The download object and the other services are made
// before the application and outlive it; the window runs modally, and the
// program ends when it closes.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "gui/app_icon.h"
#include "gui/main_window.h"
#include "gui/screenshot_mode.h"
#include "tarnwick_version.h"
#include "ui/app_services.h"

int main(int argc, char** argv) {
  using namespace tarnwick;
  using namespace tarnwick::gui;
  // Answered before the application starts, so it needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tarnwick %s\n", tarnwick::kTarnwickVersion);
    return 0;
  }
  GuiOptions options;
  if (const tarnwick::SysStatus parsed = ParseGuiOptions(argc, argv, options); !parsed) {
    std::fprintf(stderr,
                 "tarnwick: %s\nusage: tarnwick [--card-images PATH[%cPATH...]] "
                 "[--simulate-board DIR]\n",
                 parsed.Text().c_str(), tarnwick::kPathListSeparator);
    return 2;
  }
  CAppServices services(options);
  QApplication app(argc, argv);
  app.setWindowIcon(AppIcon());
  try {
    CMainWindow window(services);
    for (const std::string& notice : services.StartupNotices()) {
      QTimer::singleShot(
          0, &window, [&window, notice] { window.ShowMessage(notice, tarnwick::MsgButtons::Ok); });
    }
    std::string ignored;
    const QString folder =
        ScreenshotFolder(qEnvironmentVariable(kScreenshotVariable), services.Simulated(), &ignored);
    if (!ignored.empty()) std::fprintf(stderr, "tarnwick: %s\n", ignored.c_str());
    if (!folder.isEmpty()) StartScreenshotMode(window, folder);
    window.exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnwick: %s\n", e.what());
    return 1;
  }
  return 0;
}
