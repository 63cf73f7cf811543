#include "cli/log_route.h"

#include <filesystem>
#include <optional>

#include "platform/fs/file_access.h"

namespace tarnwick::cli {

SysResult<std::unique_ptr<CLogRoute>> CLogRoute::Open(
    const LogRouteOptions& options, std::function<void(std::string_view)> toStdout) {
  std::unique_ptr<CLogRoute> route(new CLogRoute);
  if (!options.stdoutTerminal || options.verbose) route->m_toStdout = std::move(toStdout);
  if (!options.logFile.empty()) {
    // The same file, or (for files not made yet, such as a new card image)
    // the same name.
    const std::optional<FileIdentity> id = IdentityOf(options.logFile);
    const auto sameName = [](const std::string& a, const std::string& b) {
      std::error_code ec;
      return std::filesystem::absolute(a, ec).lexically_normal() ==
             std::filesystem::absolute(b, ec).lexically_normal();
    };
    for (const ProtectedPath& other : options.keepOut) {
      if ((id && IdentityOf(other.path) == id) || sameName(options.logFile, other.path)) {
        return SysStatus(std::make_error_code(std::errc::invalid_argument),
                         "--log " + options.logFile + " is the " + other.label + " " + other.path +
                             "; nothing was written");
      }
    }
    // Appended: a log kept over several runs loses nothing. The name is UTF-8.
    const std::u8string name(options.logFile.begin(), options.logFile.end());
    route->m_file.open(std::filesystem::path(name),
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
