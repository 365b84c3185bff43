// The timing rules of BLE provisioning, with the time handed in: how fast the phone's
// requests are taken, when set-up is tried again while bluetoothd is missing, and the
// provisioning window.

#include <gtest/gtest.h>

#include "ble/provisioning_window.h"
#include "ble/request_pace.h"
#include "ble/retry_schedule.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const Clock::time_point kStart = Clock::time_point() + 1h;

}  // namespace

// A burst is taken at once, then one request per interval; drops are reported at most once
// a second, each line with the count since the last.
TEST(RequestPace, ABurstThenOnePerIntervalWithDropsReportedInFewLines) {
  ble::RequestPace pace(500ms, 3, 8);
  for (int index = 0; index < 3; ++index) {
    const auto verdict = pace.Admit(kStart, 0);
    EXPECT_TRUE(verdict.taken) << index;
    EXPECT_EQ(verdict.report, 0u);
  }
  const struct {
    Clock::duration at;
    bool taken;
    std::size_t report;
  } steps[] = {
      {0ms, false, 1},      // the first drop is reported at once
      {400ms, false, 0},    // counted
      {500ms, true, 0},     // one interval on, the pace takes one
      {600ms, false, 0},    // counted
      {1000ms, true, 2},    // a second after the first line: the two drops since
      {1100ms, false, 0},
      {1500ms, true, 0},
      {10000ms, true, 1},   // after a pause the burst is back, and the drop is told
      {10000ms, true, 0},
      {10000ms, true, 0},
      {10000ms, false, 0},  // within a second of the last line
  };
  for (const auto& step : steps) {
    const auto verdict = pace.Admit(kStart + step.at, 0);
    EXPECT_EQ(verdict.taken, step.taken) << (step.at / 1ms);
    EXPECT_EQ(verdict.report, step.report) << (step.at / 1ms);
  }
}

// The phone reads its replies before it writes again: while the backlog is full every
// request is dropped, however slow.
TEST(RequestPace, RequestsWhileRepliesPileUpAreDropped) {
  ble::RequestPace pace(500ms, 8, 4);
  EXPECT_TRUE(pace.Admit(kStart, 3).taken);
  EXPECT_FALSE(pace.Admit(kStart + 10s, 4).taken);
  EXPECT_FALSE(pace.Admit(kStart + 10500ms, 40).taken);
  const auto verdict = pace.Admit(kStart + 11500ms, 0);
  EXPECT_TRUE(verdict.taken);
  EXPECT_EQ(verdict.report, 1u) << "the second drop, not reported before";
}

TEST(RetrySchedule, PausesDoubleToTheLongestAndBluetoothdAppearingShortensThePendingOne) {
  ble::RetrySchedule schedule(2s, 60s);
  EXPECT_FALSE(schedule.Due());
  auto now = kStart;
  for (const auto pause : {2s, 4s, 8s, 16s, 32s, 60s, 60s}) {
    schedule.Failed(now);
    ASSERT_TRUE(schedule.Due());
    EXPECT_EQ(*schedule.Due() - now, pause);
    now = *schedule.Due();
  }
  schedule.Failed(now);
  schedule.BluezAppeared();
  EXPECT_EQ(*schedule.Due() - now, 2s) << "never sooner than the first pause after a failure";

  schedule.Succeeded();
  EXPECT_FALSE(schedule.Due());
  schedule.BluezAppeared();
  EXPECT_FALSE(schedule.Due()) << "nothing pending, nothing due";
  schedule.Failed(now);
  EXPECT_EQ(*schedule.Due() - now, 2s) << "after a success the pauses start again";
}

TEST(ProvisioningWindow, ClosesAfterItsLengthOpensAgainAndZeroMeansAlways) {
  ble::ProvisioningWindow window;
  EXPECT_FALSE(window.IsOpen(kStart)) << "closed until opened";

  window.Open(kStart, 15min);
  EXPECT_TRUE(window.IsOpen(kStart + 15min - 1ms));
  EXPECT_EQ(window.ClosesAt(kStart), kStart + 15min);
  EXPECT_FALSE(window.IsOpen(kStart + 15min));
  EXPECT_FALSE(window.ClosesAt(kStart + 15min));

  window.Open(kStart + 1h, 15min);  // the button
  EXPECT_TRUE(window.IsOpen(kStart + 1h + 10min));

  window.Open(kStart, Clock::duration::zero());
  EXPECT_TRUE(window.IsOpen(kStart + 24h * 365));
  EXPECT_FALSE(window.ClosesAt(kStart));

  window.Close();
  EXPECT_FALSE(window.IsOpen(kStart));
}
