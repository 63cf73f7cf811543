#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"

namespace tarnwick {
namespace {

std::atomic<bool> g_interrupted{false};

// Ctrl-C and Ctrl-Break are taken; closing the console still ends the process.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted.store(true);
  return TRUE;
}

}  // namespace

void CatchInterrupt() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
  return g_interrupted.load();
}

void SleepUnlessInterrupted(int milliseconds) {
  for (int waited = 0; waited < milliseconds && !g_interrupted.load(); waited += 20) Sleep(20);
}

}  // namespace tarnwick
