#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace mutex {

// The stop request of an object's threads: every wait below ends at once when Stop is called,
// and every later wait returns at once. A thread that paces its work, or sleeps until there is
// work, waits here instead of sleeping, so a stop never waits out a pause.
//
//   mutex::StopSignal stop_;
//   while (stop_.WaitUntil([&] { return HasWork(); })) {  // false: stopped
//     DoWork();
//     if (!stop_.WaitFor(kPace)) break;
//   }
class StopSignal {
 public:
  StopSignal() = default;
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Ends every wait, now and later.
  void Stop();
  bool Stopped() const;
  // Withdraws the stop, so waits pause again: for an object whose threads can be started
  // anew after a stop, once the stopped ones have ended.
  void Reset();

  // Sleeps for `pause`; false when a stop came before or during it.
  template <typename Rep, typename Period>
  bool WaitFor(std::chrono::duration<Rep, Period> pause) const {
    std::unique_lock<std::mutex> guard(lock_);
    return !changed_.wait_for(guard, pause, [this] { return stopped_; });
  }

  // Sleeps until `ready()` holds or a stop comes; false on a stop. `ready` runs under the
  // signal's lock; whoever changes what it reads calls Notify afterwards.
  template <typename Predicate>
  bool WaitUntil(Predicate ready) const {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this, &ready] { return stopped_ || ready(); });
    return !stopped_;
  }

  // Sleeps until `ready()` holds, `deadline` passes or a stop comes; false on a stop.
  template <typename Clock, typename Duration, typename Predicate>
  bool WaitUntil(std::chrono::time_point<Clock, Duration> deadline, Predicate ready) const {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_until(guard, deadline, [this, &ready] { return stopped_ || ready(); });
    return !stopped_;
  }

  // Makes WaitUntil look at its condition again. Taking the lock orders the caller's change
  // before the waiter's next look, so no wake-up is lost.
  void Notify() const;

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool stopped_ = false;
};

}  // namespace mutex
