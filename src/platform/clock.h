#pragma once
// The clock seam: time for progress rates and for waits, so tests never wait
// in real time.
#include <chrono>
#include <cstdint>

namespace tarnwick {

class IClock {
 public:
  virtual ~IClock() = default;
  virtual std::chrono::steady_clock::time_point Now() = 0;
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The real clock.
IClock& SystemClock();

}  // namespace tarnwick
