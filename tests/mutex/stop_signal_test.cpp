#include "mutex/stop_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A wait that should end at once: done within a generous deadline.
template <typename Function>
bool EndsSoon(std::future<Function>& result) {
  return result.wait_for(10s) == std::future_status::ready;
}

}  // namespace

TEST(StopSignal, WaitForSleepsItsWholePauseWithoutAStop) {
  const mutex::StopSignal stop;
  const auto start = Clock::now();
  EXPECT_TRUE(stop.WaitFor(30ms));
  EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(StopSignal, StopEndsEveryWaitAtOnceAndEveryLaterOne) {
  mutex::StopSignal stop;
  auto paused = std::async(std::launch::async, [&] { return stop.WaitFor(1h); });
  auto waiting = std::async(std::launch::async, [&] { return stop.WaitUntil([] { return false; }); });
  stop.Stop();
  ASSERT_TRUE(EndsSoon(paused));
  ASSERT_TRUE(EndsSoon(waiting));
  EXPECT_FALSE(paused.get());
  EXPECT_FALSE(waiting.get());
  EXPECT_TRUE(stop.Stopped());
  EXPECT_FALSE(stop.WaitFor(1h));
  EXPECT_FALSE(stop.WaitUntil([] { return true; }));
}

TEST(StopSignal, WaitUntilEndsWhenNotifiedOfItsCondition) {
  const mutex::StopSignal stop;
  std::atomic<bool> ready{false};
  auto waiting = std::async(std::launch::async, [&] { return stop.WaitUntil([&] { return ready.load(); }); });
  ready = true;
  stop.Notify();
  ASSERT_TRUE(EndsSoon(waiting));
  EXPECT_TRUE(waiting.get());
}

TEST(StopSignal, AfterAResetWaitsPauseAgainUntilTheNextStop) {
  mutex::StopSignal stop;
  stop.Stop();
  stop.Reset();
  EXPECT_FALSE(stop.Stopped());
  EXPECT_TRUE(stop.WaitFor(1ms));
  auto paused = std::async(std::launch::async, [&] { return stop.WaitFor(1h); });
  stop.Stop();
  ASSERT_TRUE(EndsSoon(paused));
  EXPECT_FALSE(paused.get());
}

TEST(StopSignal, AWaitWithADeadlineEndsAtItOrOnItsConditionOrAStop) {
  mutex::StopSignal stop;
  const auto start = Clock::now();
  EXPECT_TRUE(stop.WaitUntil(start + 30ms, [] { return false; }));
  EXPECT_GE(Clock::now() - start, 30ms);

  std::atomic<bool> ready{false};
  auto waiting = std::async(std::launch::async, [&] { return stop.WaitUntil(Clock::now() + 1h, [&] { return ready.load(); }); });
  ready = true;
  stop.Notify();
  ASSERT_TRUE(EndsSoon(waiting));
  EXPECT_TRUE(waiting.get());

  auto paused = std::async(std::launch::async, [&] { return stop.WaitUntil(Clock::now() + 1h, [] { return false; }); });
  stop.Stop();
  ASSERT_TRUE(EndsSoon(paused));
  EXPECT_FALSE(paused.get());
}
