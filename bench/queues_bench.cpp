// The hand-offs between threads: the report ring and the timer queue's add and cancel.

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "queue/circular_buffer.h"
#include "queue/thread_safe_queue.h"
#include "timer/timer_queue.h"

namespace {

void ReportRingPushPop(benchmark::State& state) {
  queue::CircularBuffer<std::string> reports(500);
  const std::string report(200, 'x');
  for (auto _ : state) {
    reports.PushBack(report);
    benchmark::DoNotOptimize(reports.PopFront());
  }
}
BENCHMARK(ReportRingPushPop);

void InboxPushPop(benchmark::State& state) {
  queue::ThreadSafeQueue<std::string> inbox;
  for (auto _ : state) {
    inbox.Push("message");
    benchmark::DoNotOptimize(inbox.Pop());
  }
}
BENCHMARK(InboxPushPop);

void TimerAddCancel(benchmark::State& state) {
  timer::TimerQueue timers;
  for (auto _ : state) {
    const auto id = timers.Add(std::chrono::hours(1), [](bool) {});
    benchmark::DoNotOptimize(timers.Cancel(id));
  }
}
BENCHMARK(TimerAddCancel);

}  // namespace
