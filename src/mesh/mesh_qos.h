#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "mesh/watchdog_timing.h"

namespace timer {
class TimerQueue;
}  // namespace timer

// A watchdog of a mesh node: once started, it calls back with its name after the interval
// plus 5 s, then after every retry interval, at most ten times, until started again or
// cancelled. Its timer queue is its own; the worker thread behind it is shared.
//
// A watchdog whose callback queues a copy of a setting counts each retry interval from the
// moment that copy goes out (Retries::kFromResend): its owner calls Resent then; until then,
// however long the copy waits in the queue, the watchdog waits with it.
class MeshQoS {
 public:
  using Callback = std::function<void(const std::string&)>;
  static constexpr std::int32_t kRetryLimit = 10;
  static constexpr std::int32_t kGraceSeconds = 5;
  enum class Retries { kFromExpiry, kFromResend };

  MeshQoS(std::string name, std::int32_t interval, std::int32_t retry_interval, Callback callback,
          const WatchdogTiming& timing, Retries retries = Retries::kFromExpiry);
  // Cancels a pending timer and returns once a running callback has finished.
  virtual ~MeshQoS();
  MeshQoS(const MeshQoS&) = delete;
  MeshQoS& operator=(const MeshQoS&) = delete;

  void Start();
  void Cancel();
  // Retries::kFromResend: the copy the last callback asked for has gone out; the next retry
  // interval counts from now. The retry count goes on.
  void Resent();
  void SetInterval(std::int32_t seconds);
  std::int32_t Interval() const;
  const std::string& Name() const { return name_; }

 private:
  void Schedule(std::int32_t seconds);  // with state_lock_ held
  void OnExpiry(const std::shared_ptr<std::uint64_t>& id, bool cancelled);

  const std::string name_;
  const std::int32_t retry_interval_;
  const Callback callback_;
  const Retries retries_;
  const std::chrono::milliseconds second_;
  mutable std::mutex interval_lock_;
  std::int32_t interval_;
  std::mutex state_lock_;  // the current timer and the retry count
  std::uint64_t timer_id_ = 0;
  std::int32_t retry_count_ = 0;
  std::unique_ptr<timer::TimerQueue> timer_;  // last: destroyed first, ending the callbacks
};
