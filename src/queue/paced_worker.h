#pragma once

#include <chrono>
#include <functional>
#include <thread>
#include <type_traits>
#include <utility>

#include "mutex/stop_signal.h"

namespace queue {

// One thread that does its owner's work in passes at a fixed pace: it sleeps until
// `has_work()` holds, runs `pass()`, then pauses exactly `pace` (none when zero) before it
// looks again. A pass that returns bool says whether it did anything worth the pace: after a
// pass that returns false the worker looks for work again at once. Work that arrives while
// the worker sleeps is taken at once, without a pace before it. Stop ends the wait or the
// pause at once and joins the thread. The producer calls Wake after making work available.
//
// Thread: one of its own, started by the constructor (declare the worker after everything
// `has_work` and `pass` use, so it ends first). `has_work` runs under the worker's lock and
// must not block; `pass` runs unlocked. Ownership: the owner holds the worker by value.
class PacedWorker {
 public:
  // `pass` returns nothing (every pass is followed by the pace) or bool (see above).
  template <typename Pass>
  PacedWorker(std::chrono::milliseconds pace, std::function<bool()> has_work, Pass pass)
      : PacedWorker(pace, std::move(has_work), Counted(std::move(pass))) {}
  ~PacedWorker();
  PacedWorker(const PacedWorker&) = delete;
  PacedWorker& operator=(const PacedWorker&) = delete;

  // Work is available: the sleeping worker looks again.
  void Wake() const;
  // Ends the current wait or pause, lets a running pass finish, and joins the thread. Not
  // to be called from a pass.
  void Stop();

 private:
  // A pass that says whether the pace follows it.
  struct CountedPass {
    std::function<bool()> run;
  };

  PacedWorker(std::chrono::milliseconds pace, std::function<bool()> has_work, CountedPass pass);

  template <typename Pass>
  static CountedPass Counted(Pass pass) {
    if constexpr (std::is_same_v<std::invoke_result_t<Pass&>, bool>) {
      return {std::move(pass)};
    } else {
      return {[pass = std::move(pass)]() mutable {
        pass();
        return true;
      }};
    }
  }

  void Run();

  const std::chrono::milliseconds pace_;
  const std::function<bool()> has_work_;
  const std::function<bool()> pass_;  // true: the pace follows
  mutex::StopSignal stop_;
  std::thread thread_;
};

}  // namespace queue
