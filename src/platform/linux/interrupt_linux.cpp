#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>

#include "platform/interrupt.h"

namespace tarnwick {
namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted.store(true);
}

}  // namespace

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a wait is cut short; writes continue after EINTR.
  action.sa_flags = 0;
  ::sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() {
  return g_interrupted.load();
}

void SleepUnlessInterrupted(int milliseconds) {
  struct timespec left {
    milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L
  };
  while (!g_interrupted.load() && ::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace tarnwick
