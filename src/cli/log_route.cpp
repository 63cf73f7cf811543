#include "cli/log_route.h"

#include <filesystem>

namespace tarnwick::cli {

SysResult<std::unique_ptr<CLogRoute>> CLogRoute::Open(
    const LogRouteOptions& options, std::function<void(std::string_view)> toStdout) {
  std::unique_ptr<CLogRoute> route(new CLogRoute);
  if (!options.stdoutTerminal || options.verbose) route->m_toStdout = std::move(toStdout);
  if (!options.logFile.empty()) {
    // Appended: a log kept over several runs loses nothing.
    route->m_file.open(std::filesystem::path(options.logFile),
                       std::ios::binary | std::ios::app | std::ios::out);
    if (!route->m_file) {
      return SysStatus(std::make_error_code(std::errc::io_error),
                       "cannot open the log file " + options.logFile);
    }
  }
  CLogRoute* self = route.get();
  route->m_previous = SetLogSink([self](std::string_view line) { self->Line(line); });
  return route;
}

CLogRoute::~CLogRoute() {
  SetLogSink(m_previous);
}

void CLogRoute::Line(std::string_view line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_toStdout) m_toStdout(line);
  if (m_file.is_open()) {
    m_file.write(line.data(), static_cast<std::streamsize>(line.size()));
    m_file.flush();
  }
}

}  // namespace tarnwick::cli
