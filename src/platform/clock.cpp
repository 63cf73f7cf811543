#include "platform/clock.h"

#include <thread>

namespace tarnwick {
namespace {

class RealClock final : public IClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
  void SleepFor(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

IClock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace tarnwick
