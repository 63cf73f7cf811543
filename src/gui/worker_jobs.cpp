#include "gui/worker_jobs.h"

namespace tarnwick::gui {

CWorkerJobs::~CWorkerJobs() {
  if (m_thread) {
    m_thread->wait();
    delete m_thread;
  }
}

void CWorkerJobs::Start(std::function<void()> work, std::function<void()> done) {
  QThread* thread = QThread::create(std::move(work));
  m_thread = thread;
  connect(thread, &QThread::finished, this, [this, thread, done = std::move(done)] {
    thread->wait();
    delete thread;
    if (m_thread == thread) m_thread = nullptr;
    done();
  });
  thread->start();
}

}  // namespace tarnwick::gui
