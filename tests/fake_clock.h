#pragma once
// A clock that only moves when something sleeps on it: waits cost no real time.
#include <chrono>

#include "platform/clock.h"

namespace tarnwick::testing {

class FakeClock : public IClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return m_now; }
  void SleepFor(std::chrono::milliseconds duration) override {
    m_now += duration;
    slept += duration;
  }
  std::chrono::milliseconds slept{0};

 private:
  std::chrono::steady_clock::time_point m_now{};
};

}  // namespace tarnwick::testing
