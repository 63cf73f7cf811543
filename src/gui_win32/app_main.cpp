// tarnwick.exe: the dialog. The download object and the other services are
// made before the dialog and outlive it; the dialog runs modally, and the
// program ends when it closes.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "gui_win32/main_dialog.h"
#include "gui_win32/resource.h"
#include "platform/fs/win32_text.h"
#include "tarnwick_version.h"

namespace {

using namespace tarnwick;

// When set, the About box opens by itself once the dialog is up (for the
// manual's pictures).
constexpr wchar_t kOpenAboutVariable[] = L"TARNWICK_OPEN_ABOUT";

// A GUI program has no console of its own: the text goes to standard output
// when that is redirected, else to the console of the program that started it.
void WriteOut(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
  }
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The command line as UTF-8 arguments.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
    LocalFree(wide);
  }
  if (args.empty()) args.emplace_back("tarnwick");
  return args;
}

int Run(HINSTANCE instance) {
  std::vector<std::string> args = Arguments();
  if (args.size() == 2 && args[1] == "--version") {
    WriteOut(std::string("tarnwick ") + kTarnwickVersion + "\n");
    return 0;
  }
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "/?")) {
    WriteOut(
        "usage: tarnwick [--card-images PATH[;PATH...]] [--simulate-board DIR] [--version]\n"
        "The burn dialog. Card image files (made 4 GiB when missing) or a simulated board\n"
        "stand for the disks and the board; without them the computer's removable disks\n"
        "(\\\\.\\PhysicalDrive1..13) are burned: run as administrator.\n");
    return 0;
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());
  GuiOptions options;
  if (const SysStatus parsed = ParseGuiOptions(argc, argv.data(), options); !parsed) {
    const std::string text = "tarnwick: " + parsed.Text() +
                             "\nusage: tarnwick [--card-images PATH[;PATH...]] "
                             "[--simulate-board DIR]\n";
    WriteOut(text);
    return 2;
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  CAppServices services(options);
  win32gui::CWin32MainDialog dialog(services, instance);
  dialog.SetStartupNotices(services.StartupNotices());
  if (GetEnvironmentVariableW(kOpenAboutVariable, nullptr, 0) > 0) dialog.OpenAboutAtStart();
  (void)dialog.RunModal();
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    return Run(instance);
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, tarnwick::win32::Widen(e.what()).c_str(), tarnwick::win32gui::kAppTitle,
                MB_OK | MB_ICONERROR);
    return 1;
  }
}
