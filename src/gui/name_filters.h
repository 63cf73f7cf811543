#pragma once
// File-dialog filters come as "description|patterns|" pairs. On Linux "*.*"
// would only match names with a dot, so an all-files pattern becomes "*"
// while the description stays as written.
#include <QStringList>
#include <string>

namespace tarnwick::gui {

QStringList ToQtNameFilters(const std::string& filter);

}  // namespace tarnwick::gui
