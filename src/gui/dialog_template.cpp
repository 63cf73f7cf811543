#include "gui/dialog_template.h"

#include <QFontMetrics>
#include <QStringList>

namespace tarnwick::gui {

namespace {

// a * b / c rounded to nearest, for positive values.
int MulDiv(int a, int b, int c) {
  return (a * b + c / 2) / c;
}

}  // namespace

QFont DialogFont(int points) {
  QFont font;
  font.setFamilies({"Noto Sans CJK SC", "DejaVu Sans"});
  font.setPointSize(points);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {(width / 26 + 1) / 2, metrics.height()};
}

QRect ToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
  return QRect(MulDiv(x, units.cx, 4), MulDiv(y, units.cy, 8), MulDiv(width, units.cx, 4),
               MulDiv(height, units.cy, 8));
}

}  // namespace tarnwick::gui
