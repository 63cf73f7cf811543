#pragma once
// For the manual's pictures: when TARNWICK_SCREENSHOT names a folder, the
// window presses Burn by itself, saves dialog.png there while the burn is
// half done, answers every message box with OK, saves about.png of the
// About box after the run and then closes.
#include <QString>

namespace tarnwick::gui {

class CMainWindow;

inline constexpr char kScreenshotVariable[] = "TARNWICK_SCREENSHOT";

void StartScreenshotMode(CMainWindow& window, const QString& folder);

}  // namespace tarnwick::gui
