// Watchdogs restarted against a long deadline on one shared timer worker: the cost of Cancel
// and the number of items the worker's heap holds after a number of restart rounds.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "timer/timer_queue.h"
#include "timer/timer_worker.h"

namespace {

constexpr auto kWatchdogDeadline = std::chrono::minutes(60);

// One queue per watchdog, all on one worker, each with one pending timer. A poll timer due
// before every watchdog shares the worker, as in the gateway, so the heap's top is never a
// cancelled watchdog timer.
class Watchdogs {
 public:
  explicit Watchdogs(std::size_t count)
      : worker_(std::make_shared<timer::TimerWorker>()), poller_(worker_) {
    poller_.Add(kWatchdogDeadline / 2, [](bool) {});
    for (std::size_t index = 0; index < count; ++index) {
      queues_.push_back(std::make_unique<timer::TimerQueue>(worker_));
      ids_.push_back(queues_.back()->Add(kWatchdogDeadline, [](bool) {}));
    }
  }

  // Cancels the watchdog's timer and starts it again; returns the time Cancel took.
  std::chrono::steady_clock::duration Restart(std::size_t index) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(queues_[index]->Cancel(ids_[index]));
    const auto cancel_time = std::chrono::steady_clock::now() - start;
    ids_[index] = queues_[index]->Add(kWatchdogDeadline, [](bool) {});
    return cancel_time;
  }

  void RestartAll() {
    for (std::size_t index = 0; index < queues_.size(); ++index) Restart(index);
  }

  std::size_t Count() const { return queues_.size(); }
  std::size_t LiveTimers() const { return queues_.size() + 1; }  // the poll timer too
  timer::TimerWorker& Worker() { return *worker_; }

 private:
  std::shared_ptr<timer::TimerWorker> worker_;
  timer::TimerQueue poller_;
  std::vector<std::unique_ptr<timer::TimerQueue>> queues_;
  std::vector<std::uint64_t> ids_;
};

// Arguments: watchdogs, restart rounds done before measuring. Reports the heap's items
// after those rounds (and after the worker ran the cancelled handlers), then times Cancel.
void WatchdogRestart(benchmark::State& state) {
  Watchdogs watchdogs(static_cast<std::size_t>(state.range(0)));
  for (std::int64_t round = 0; round < state.range(1); ++round) watchdogs.RestartAll();
  watchdogs.Worker().Drain();
  state.counters["heap_items"] = static_cast<double>(watchdogs.Worker().PendingItems());
  state.counters["live_timers"] = static_cast<double>(watchdogs.LiveTimers());
  std::size_t next = 0;
  for (auto _ : state) {
    const auto cancel_time = watchdogs.Restart(next);
    state.SetIterationTime(std::chrono::duration<double>(cancel_time).count());
    next = (next + 1) % watchdogs.Count();
  }
}
BENCHMARK(WatchdogRestart)
    ->Args({1000, 0})
    ->Args({1000, 10})
    ->Args({1000, 60})
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
