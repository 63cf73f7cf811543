#pragma once
// CAboutDlg, template IDD_ABOUT: the icon, the program's name and version,
// the maker line and an "ok" button. "ok", Enter, Escape and the close box
// close it; it changes nothing.
#include <QDialog>

namespace tarnwick::gui {

inline constexpr char kAboutCaption[] = "Zelmar Flash Tool";
inline constexpr char kAboutVersionLine[] = "Flash Tool V1.4";
inline constexpr char kAboutMakerLine[] = "Tarnwick developers, 2025";

class CAboutDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent);
};

}  // namespace tarnwick::gui
