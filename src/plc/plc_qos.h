#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "plc/poll_periods.h"
#include "timer/timer_queue.h"

// Polls one value of a PLC: every `fold` minutes, and every 2 s after a failed read until a
// read succeeds. Its timers run on the worker shared by the pollers of its PLC.
class PLCQoS {
 public:
  using ReadCallback = std::function<bool(const std::string& id)>;

  PLCQoS(std::string name, int fold, ReadCallback callback, std::shared_ptr<timer::TimerWorker> worker,
         PollPeriods periods = {});
  // Returns once a read of this poller in flight has ended.
  virtual ~PLCQoS() = default;
  PLCQoS(const PLCQoS&) = delete;
  PLCQoS& operator=(const PLCQoS&) = delete;

  const std::string& Name() const { return name_; }
  int Fold() const { return fold_; }
  // Stores the fold only; the new period applies from the next re-arm.
  void SetFold(int fold) { fold_ = fold; }
  void TimerHandler(bool cancelled);

 private:
  void Arm(std::chrono::milliseconds delay);

  const std::string name_;
  const PollPeriods periods_;
  std::atomic<int> fold_;
  const ReadCallback callback_;
  std::atomic<std::uint64_t> timer_id_{0};
  // Last, so it ends first: its destruction waits for a running handler, which uses the above.
  timer::TimerQueue timer_;
};
