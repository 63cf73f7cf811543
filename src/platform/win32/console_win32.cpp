// Console output: UTF-16 to a console so that every text shows in any code
// page, UTF-8 bytes to files and pipes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fs/win32_text.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {

void Win32WriteText(bool error, std::string_view text) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::FILE* f = error ? stderr : stdout;
  // Redirected output carries the same bytes as on every other system:
  // no LF is turned into CR LF.
  static bool binary = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return true;
  }();
  (void)binary;
  HANDLE h = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode)) {
    std::fflush(f);
    const std::wstring wide = win32::Widen(std::string(text));
    DWORD written = 0;
    if (wide.empty() ||
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      return;
    }
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

std::vector<std::string> Win32CommandLine() {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace tarnwick
