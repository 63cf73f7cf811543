#pragma once
// The dialog's jobs on a worker thread. `done` is delivered through the
// event loop of the thread that owns this object (the window's).
#include <QObject>
#include <QThread>

#include "ui/job_runner.h"

namespace tarnwick::gui {

class CWorkerJobs final : public QObject, public IJobRunner {
  Q_OBJECT
 public:
  CWorkerJobs() = default;
  // Waits for a job that still runs: the window is never closed while one
  // does, so this only guards against leaving a thread behind.
  ~CWorkerJobs() override;

  void Start(std::function<void()> work, std::function<void()> done) override;

 private:
  QThread* m_thread = nullptr;
};

}  // namespace tarnwick::gui
