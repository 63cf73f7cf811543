#pragma once
// Runs the long operations of the dialog (the board download, the burn run)
// away from the window's thread so that the window keeps painting. `done`
// runs on the window's thread once `work` has returned. One job at a time.
#include <functional>

namespace tarnwick {

class IJobRunner {
 public:
  virtual ~IJobRunner() = default;
  virtual void Start(std::function<void()> work, std::function<void()> done) = 0;
};

}  // namespace tarnwick
