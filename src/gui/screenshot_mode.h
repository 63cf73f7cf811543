#pragma once
// For the manual's pictures: when TARNWICK_SCREENSHOT names a folder, the
// window presses Burn by itself, saves dialog.png and cards.png (the Cards
// window) there while the burn is half done, answers every message box with OK, saves about.png of the
// About box after the run and then closes.
#include <QString>
#include <string>

namespace tarnwick::gui {

class CMainWindow;

inline constexpr char kScreenshotVariable[] = "TARNWICK_SCREENSHOT";

// The folder screenshot mode saves its pictures in, from the variable's
// value: empty when the mode is off. The mode answers every question itself
// and presses Burn, so it is honoured only when the disks are simulated
// (card images or the simulated board); over real disks it is ignored and
// *ignored says so for standard error.
QString ScreenshotFolder(const QString& variable, bool simulatedDisks, std::string* ignored);

void StartScreenshotMode(CMainWindow& window, const QString& folder);

}  // namespace tarnwick::gui
