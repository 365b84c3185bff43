#include "timer/timer_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

using Clock = timer::TimerWorker::Clock;

// Records the handler calls of timers on a worker, by owner and identifier.
class Calls {
 public:
  struct Call {
    const void* owner;
    std::uint64_t id;
    bool cancelled;
    bool operator==(const Call& other) const {
      return owner == other.owner && id == other.id && cancelled == other.cancelled;
    }
  };

  timer::TimerWorker::Handler Handler(const void* owner, std::uint64_t id) {
    return [this, owner, id](bool cancelled) {
      const std::lock_guard<std::mutex> guard(lock_);
      calls_.push_back({owner, id, cancelled});
    };
  }
  std::vector<Call> All() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<Call> calls_;
};

// Handler calls compare as a set: cancelled handlers are all due at once, in no set order.
bool SameCalls(std::vector<Calls::Call> actual, std::vector<Calls::Call> expected) {
  return actual.size() == expected.size() && std::is_permutation(actual.begin(), actual.end(), expected.begin());
}

// Two owners, as two queues sharing the worker would be; only their addresses matter.
class TimerWorkerTest : public testing::Test {
 protected:
  const void* First() const { return &first_owner_; }
  const void* Second() const { return &second_owner_; }

  Calls calls_;

 private:
  const int first_owner_ = 0;
  const int second_owner_ = 0;
};

}  // namespace

TEST_F(TimerWorkerTest, OwnersWithTheSameIdentifiersCancelOnlyTheirOwnTimers) {
  timer::TimerWorker worker;
  const auto later = Clock::now() + 1h;
  for (const void* owner : {First(), Second()}) {
    for (std::uint64_t id = 1; id <= 3; ++id) worker.Add(owner, id, later, calls_.Handler(owner, id));
  }
  EXPECT_EQ(worker.Cancel(First(), 2), 1u);
  EXPECT_EQ(worker.Cancel(First(), 2), 0u);
  worker.CancelAll(Second());
  worker.Drain();
  EXPECT_TRUE(SameCalls(calls_.All(), {{First(), 2, true}, {Second(), 1, true}, {Second(), 2, true}, {Second(), 3, true}}));
  EXPECT_EQ(worker.PendingItems(), 2u);  // the first owner's timers 1 and 3
  EXPECT_EQ(worker.Cancel(Second(), 1), 0u);
  EXPECT_EQ(worker.Cancel(First(), 3), 1u);
}

// A queue destroyed and another made at the same address reuse the owner and its identifiers.
TEST_F(TimerWorkerTest, AnOwnerCanReuseIdentifiersAfterCancelAll) {
  timer::TimerWorker worker;
  worker.Add(First(), 1, Clock::now() + 1h, calls_.Handler(First(), 1));
  worker.CancelAll(First());
  worker.Add(First(), 1, Clock::now() + 20ms, calls_.Handler(First(), 101));
  worker.Add(First(), 2, Clock::now() + 1h, calls_.Handler(First(), 102));
  EXPECT_EQ(worker.Cancel(First(), 2), 1u);
  ASSERT_TRUE(WaitUntil([&] { return calls_.All().size() == 3; }));
  EXPECT_TRUE(SameCalls(calls_.All(), {{First(), 1, true}, {First(), 102, true}, {First(), 101, false}}));
  EXPECT_EQ(worker.Cancel(First(), 1), 0u);  // it has run
  EXPECT_EQ(worker.PendingItems(), 0u);
}

TEST_F(TimerWorkerTest, AHandlerCancelsAnotherTimerButNotItself) {
  timer::TimerWorker worker;
  std::atomic<int> victim_calls{0};
  std::atomic<bool> victim_cancelled{false};
  std::size_t cancelled_self = 9;
  std::size_t cancelled_victim = 9;
  std::size_t cancelled_victim_again = 9;
  worker.Add(First(), 2, Clock::now() + 1h, [&](bool cancelled) {
    ++victim_calls;
    victim_cancelled = cancelled;
  });
  worker.Add(First(), 1, Clock::now(), [&](bool) {
    cancelled_self = worker.Cancel(First(), 1);
    cancelled_victim = worker.Cancel(First(), 2);
    cancelled_victim_again = worker.Cancel(First(), 2);
  });
  ASSERT_TRUE(WaitUntil([&] { return victim_calls == 1; }));
  worker.Drain();
  EXPECT_EQ(cancelled_self, 0u);
  EXPECT_EQ(cancelled_victim, 1u);
  EXPECT_EQ(cancelled_victim_again, 0u);
  EXPECT_TRUE(victim_cancelled);
  EXPECT_EQ(victim_calls, 1);
  EXPECT_EQ(worker.PendingItems(), 0u);
}

TEST_F(TimerWorkerTest, DestructionRunsEveryOwnersPendingHandlerOnceAsCancelled) {
  {
    timer::TimerWorker worker;
    worker.Add(First(), 1, Clock::now() + 1h, calls_.Handler(First(), 1));
    worker.Add(Second(), 1, Clock::now() + 2h, calls_.Handler(Second(), 1));
    worker.Add(Second(), 2, Clock::now() + 3h, calls_.Handler(Second(), 2));
    worker.Cancel(Second(), 2);
    worker.Add(First(), 3, Clock::now() + 1h, nullptr);  // nothing to run, nothing kept
    EXPECT_EQ(worker.Cancel(First(), 3), 0u);
  }
  EXPECT_TRUE(SameCalls(calls_.All(), {{First(), 1, true}, {Second(), 1, true}, {Second(), 2, true}}));
}
