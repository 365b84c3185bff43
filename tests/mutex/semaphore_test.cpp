#include "mutex/semaphore.h"

#include <gtest/gtest.h>

#include <thread>

using Clock = std::chrono::steady_clock;

TEST(Semaphore, NotifyBeforeWaitReturnsAtOnce) {
  mutex::Semaphore semaphore;
  semaphore.Notify();
  semaphore.Wait();
  EXPECT_FALSE(semaphore.WaitUntil(Clock::now()));  // the count was consumed
}

TEST(Semaphore, TwoNotifiesReleaseTwoWaits) {
  mutex::Semaphore semaphore;
  semaphore.Notify();
  semaphore.Notify();
  EXPECT_TRUE(semaphore.WaitUntil(Clock::now() + std::chrono::seconds(5)));
  EXPECT_TRUE(semaphore.WaitUntil(Clock::now() + std::chrono::seconds(5)));
  EXPECT_FALSE(semaphore.WaitUntil(Clock::now() + std::chrono::milliseconds(10)));
}

TEST(Semaphore, WaitUntilTimesOutAtItsDeadline) {
  mutex::Semaphore semaphore;
  const auto deadline = Clock::now() + std::chrono::milliseconds(30);
  EXPECT_FALSE(semaphore.WaitUntil(deadline));
  EXPECT_GE(Clock::now(), deadline);
}

TEST(Semaphore, WaitIsWokenByNotifyFromAnotherThread) {
  mutex::Semaphore semaphore;
  std::thread notifier([&semaphore] { semaphore.Notify(); });
  semaphore.Wait();
  notifier.join();
}
