#pragma once
// Where burn and download send the debug log. When standard output is not a
// terminal it goes there exactly as it always has (scripts read it); on a
// terminal it would drown the progress line and the result lines, so it goes
// there only with --verbose. --log FILE appends it to a file as well, in
// either case.
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/debug_log.h"
#include "common/sys_status.h"
#include "platform/disk_service.h"

namespace tarnwick::cli {

struct LogRouteOptions {
  bool stdoutTerminal = false;
  bool verbose = false;
  std::string logFile;  // empty: none
  // Files the log must never be appended to (the run's inputs, its cards),
  // also under another name.
  std::vector<ProtectedPath> keepOut;
};

class CLogRoute {
 public:
  // Sets the debug log's sink for the lifetime of the object; toStdout prints
  // one line on standard output. Fails when the log file cannot be opened or
  // is one of the files kept out.
  static SysResult<std::unique_ptr<CLogRoute>> Open(const LogRouteOptions& options,
                                                    std::function<void(std::string_view)> toStdout);
  ~CLogRoute();
  CLogRoute(const CLogRoute&) = delete;
  CLogRoute& operator=(const CLogRoute&) = delete;

 private:
  CLogRoute() = default;
  void Line(std::string_view line);

  std::function<void(std::string_view)> m_toStdout;  // empty: not on standard output
  std::ofstream m_file;
  std::mutex m_mutex;
  LogSink m_previous;
};

}  // namespace tarnwick::cli
