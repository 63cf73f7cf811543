#include "platform/linux/process_tuning.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tarnwick {
namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES";
constexpr char kHugePageTunable[] = "glibc.malloc.hugetlb";
// Set in the re-executed process so that it never starts itself again.
constexpr char kStartedMarker[] = "TARNWICK_HUGE_PAGES";

}  // namespace

void UseHugePagesForImageBuffers(char** argv) {
  if (std::getenv(kStartedMarker)) return;
  const char* old = std::getenv(kTunables);
  std::string tunables = old ? old : "";
  if (tunables.find(kHugePageTunable) != std::string::npos) return;  // chosen by the user
  std::string added = tunables.empty() ? "" : tunables + ":";
  added += std::string(kHugePageTunable) + "=1";
  if (::setenv(kTunables, added.c_str(), 1) != 0 || ::setenv(kStartedMarker, "1", 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Could not start again: run as we are, with the environment as it was.
  if (old) {
    ::setenv(kTunables, old, 1);
  } else {
    ::unsetenv(kTunables);
  }
  ::unsetenv(kStartedMarker);
}

}  // namespace tarnwick
