#include "gui/app_icon.h"

// The resources live in a static library: they are registered on first use.
static void RegisterIconResources() {
  Q_INIT_RESOURCE(tarnwick);
}

namespace tarnwick::gui {

QIcon AppIcon() {
  static const bool registered = (RegisterIconResources(), true);
  (void)registered;
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QString(":/icons/icon-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace tarnwick::gui
