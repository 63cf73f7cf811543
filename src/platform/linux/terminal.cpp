#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/host.h"

namespace tarnwick {

bool IsTerminal(StdStream stream) {
  switch (stream) {
    case StdStream::Input:
      return ::isatty(STDIN_FILENO) == 1;
    case StdStream::Output:
      return ::isatty(STDOUT_FILENO) == 1;
    case StdStream::Error:
      return ::isatty(STDERR_FILENO) == 1;
  }
  return false;
}

int TerminalColumns() {
  struct winsize ws {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void WriteText(StdStream stream, std::string_view text) {
  std::FILE* f = stream == StdStream::Error ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

}  // namespace tarnwick
