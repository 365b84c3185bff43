#include "queue/paced_worker.h"

#include <utility>

namespace queue {

PacedWorker::PacedWorker(std::chrono::milliseconds pace, std::function<bool()> has_work, CountedPass pass)
    : pace_(pace), has_work_(std::move(has_work)), pass_(std::move(pass.run)), thread_(&PacedWorker::Run, this) {}

PacedWorker::~PacedWorker() { Stop(); }

void PacedWorker::Wake() const { stop_.Notify(); }

void PacedWorker::Stop() {
  stop_.Stop();
  if (thread_.joinable()) thread_.join();
}

void PacedWorker::Run() {
  while (stop_.WaitUntil(has_work_)) {
    if (!pass_()) continue;
    if (pace_.count() > 0 && !stop_.WaitFor(pace_)) return;
  }
}

}  // namespace queue
