// The Bluetooth controller checks against a scripted controller.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "hci/hci_socket_controller.h"
#include "app_doubles.h"
#include "common/singleton.h"
#include "mailbox/message_id.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using Reading = HciController::Reading;
using Status = HciController::Status;
using testing_support::WaitUntil;

namespace {

std::shared_ptr<app_doubles::SpyApp> MakeApp(std::shared_ptr<HciController> hci, AppPlatform platform = {}) {
  platform.ubus_socket = "/nonexistent/quellaron-test/ubus.sock";
  platform.hci = std::move(hci);
  return std::make_shared<app_doubles::SpyApp>(platform, AppComponents{});
}

std::size_t Malfunctions(const app_doubles::SpyApp& app) {
  const auto posted = app.Posted();
  return static_cast<std::size_t>(std::count(posted.begin(), posted.end(), mailbox::SYS_EVT_MESHD_MALFUNCTION));
}

}  // namespace

TEST(AppHci, OneShotChecksCompareConsecutiveCountsStartingFromZero) {
  const struct {
    const char* name;
    std::deque<Reading> readings;
    std::size_t malfunctions;
  } cases[] = {
      {"moving counter", {{Status::ok, 5}, {Status::ok, 9}, {Status::ok, 12}}, 0},
      {"two equal counts post one malfunction", {{Status::ok, 5}, {Status::ok, 5}, {Status::ok, 8}}, 1},
      {"the first check compares against 0", {{Status::ok, 0}, {Status::ok, 3}, {Status::ok, 4}}, 1},
      {"stalled throughout", {{Status::ok, 7}, {Status::ok, 7}, {Status::ok, 7}}, 2},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    const auto app = MakeApp(std::make_shared<app_doubles::FakeHci>(entry.readings));
    for (int i = 0; i < 3; ++i) app->HCIStatus2();
    EXPECT_EQ(Malfunctions(*app), entry.malfunctions);
  }
}

TEST(AppHci, FailedOneShotChecksKeepOnePendingPeriodicCheck) {
  const auto hci = std::make_shared<app_doubles::FakeHci>(std::deque<Reading>{{Status::socket_failed, 0}});
  AppPlatform platform;
  platform.hci_retry = 1s;
  const auto app = MakeApp(hci, platform);
  for (int i = 0; i < 5; ++i) app->HCIStatus2();  // each schedules a retry, replacing the last
  EXPECT_EQ(hci->Reads(), 5);
  // One retry runs (and re-arms itself, as the controller stays unreachable); five would
  // have run at once if every failure had added its own.
  ASSERT_TRUE(WaitUntil([&] { return hci->Reads() >= 6; }, 5s));
  EXPECT_LT(hci->Reads(), 8);
}

TEST(AppHci, PeriodicCheckStopsAfterAMalfunction) {
  const auto hci = std::make_shared<app_doubles::FakeHci>(
      std::deque<Reading>{{Status::info_failed, 0}, {Status::ok, 4}, {Status::ok, 4}});
  AppPlatform platform;
  platform.hci_retry = 10ms;
  platform.hci_period = 10ms;
  const auto app = MakeApp(hci, platform);
  app->HCIStatus2();  // fails: starts the periodic check
  ASSERT_TRUE(WaitUntil([&] { return Malfunctions(*app) == 1; }, 5s));
  const int reads = hci->Reads();
  // Prove the timer worker has gone past any re-arm: a marker timer expires after it.
  std::atomic<bool> marker{false};
  app->Timers().Add(100ms, [&](bool) { marker = true; });
  ASSERT_TRUE(WaitUntil([&] { return marker.load(); }, 5s));
  EXPECT_EQ(hci->Reads(), reads);
  EXPECT_EQ(Malfunctions(*app), 1u);
}

namespace {

// A controller whose second reading (the first periodic check) holds the timer worker until
// the test lets it go; the counter moves on every reading.
class HeldHci : public HciController {
 public:
  Reading ReadCommandCount(int /*device*/) override {
    std::unique_lock<std::mutex> guard(lock_);
    ++reads_;
    if (reads_ == 1) return {Status::socket_failed, 0};
    if (reads_ == 2) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(guard, [this] { return released_; });
    }
    return {Status::ok, static_cast<std::uint32_t>(reads_)};
  }
  bool WaitUntilHeld() {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, 10s, [this] { return held_; });
  }
  void Release() {
    const std::lock_guard<std::mutex> guard(lock_);
    released_ = true;
    changed_.notify_all();
  }
  int Reads() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return reads_;
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  int reads_ = 0;
  bool held_ = false;
  bool released_ = false;
};

}  // namespace

// A retry scheduled while the periodic check runs, and that check's own re-arm, leave one
// pending check between them, not two chains.
TEST(AppHci, ARetryScheduledDuringAPeriodicCheckLeavesOneCheckPending) {
  const auto hci = std::make_shared<HeldHci>();
  AppPlatform platform;
  platform.hci_retry = 50ms;
  platform.hci_period = 1h;
  const auto app = MakeApp(hci, platform);
  app->HCIStatus2();  // fails: the periodic check starts in 50 ms
  ASSERT_TRUE(hci->WaitUntilHeld());
  app->ScheduleHCICheck();  // a 50 ms retry, armed while the periodic check runs
  hci->Release();           // the check re-arms itself for an hour

  // Well past the retry's 50 ms: had it stayed armed beside the re-arm, it would have read.
  std::atomic<bool> marker{false};
  app->Timers().Add(600ms, [&](bool) { marker = true; });
  ASSERT_TRUE(WaitUntil([&] { return marker.load(); }, 5s));
  EXPECT_EQ(hci->Reads(), 2);
}

TEST(AppHci, ProductionSocketFailsWithoutAController) {
  // This machine (like a router without a controller) has no Bluetooth: the socket fails.
  HciSocketController controller;
  EXPECT_NE(controller.ReadCommandCount(0).status, Status::ok);
}
