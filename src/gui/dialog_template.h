#pragma once
// Dialog templates are laid out in dialog units: a quarter of the font's
// average character width across, an eighth of its height down. The window
// and the About box convert them with the metrics of the font they use, so
// the layout keeps its proportions whatever font is found.
#include <QFont>
#include <QRect>

namespace tarnwick::gui {

// The templates ask for "MS Shell Dlg"; here a sans font that Debian ships
// and that holds the Chinese captions.
QFont DialogFont(int points);

struct DialogBaseUnits {
  int cx = 0;  // average character width, pixels
  int cy = 0;  // character height, pixels
};

// The average width of the 52 Latin letters, rounded, and the font height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// x and width scale by cx / 4, y and height by cy / 8, rounded to nearest.
QRect ToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);

}  // namespace tarnwick::gui
