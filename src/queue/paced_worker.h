#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "mutex/stop_signal.h"

namespace queue {

// One thread that does its owner's work in passes at a fixed pace: it sleeps until
// `has_work()` holds, runs `pass()`, then pauses exactly `pace` (none when zero) before it
// looks again. Stop ends the wait or the pause at once and joins the thread. The producer
// calls Wake after making work available.
//
// Thread: one of its own, started by the constructor (declare the worker after everything
// `has_work` and `pass` use, so it ends first). `has_work` runs under the worker's lock and
// must not block; `pass` runs unlocked. Ownership: the owner holds the worker by value.
class PacedWorker {
 public:
  PacedWorker(std::chrono::milliseconds pace, std::function<bool()> has_work, std::function<void()> pass);
  ~PacedWorker();
  PacedWorker(const PacedWorker&) = delete;
  PacedWorker& operator=(const PacedWorker&) = delete;

  // Work is available: the sleeping worker looks again.
  void Wake() const;
  // Ends the current wait or pause, lets a running pass finish, and joins the thread. Not
  // to be called from a pass.
  void Stop();

 private:
  void Run();

  const std::chrono::milliseconds pace_;
  const std::function<bool()> has_work_;
  const std::function<void()> pass_;
  mutex::StopSignal stop_;
  std::thread thread_;
};

}  // namespace queue
