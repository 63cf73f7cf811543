#pragma once
// The application icon IDI_APP, drawn for this tool in several sizes.
#include <QIcon>

namespace tarnwick::gui {

QIcon AppIcon();

}  // namespace tarnwick::gui
