#include "ui/led_state_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/singleton.h"
#include "support/wait.h"
#include "recording_led_lines.h"
#include "ui/led.h"

namespace {

using testing_support::WaitUntil;
using ui::LedColour;
using ui_test::LineWrite;
using ui_test::RecordingLedLines;

enum class Event { net_up, net_down, server_up, server_down, bt_fail, reset, indicator_on, indicator_off };
constexpr std::array kAllEvents = {Event::net_up,  Event::net_down, Event::server_up,    Event::server_down,
                                   Event::bt_fail, Event::reset,    Event::indicator_on, Event::indicator_off};

enum class State { boot, internet, server, normal, panic, reset };

void Dispatch(Event event) {
  switch (event) {
    case Event::net_up:
      return LEDStateMachine::Dispatch(NetworkConnected{});
    case Event::net_down:
      return LEDStateMachine::Dispatch(NetworkDisconnected{});
    case Event::server_up:
      return LEDStateMachine::Dispatch(ServerConnected{});
    case Event::server_down:
      return LEDStateMachine::Dispatch(ServerDisconnected{});
    case Event::bt_fail:
      return LEDStateMachine::Dispatch(BluetoothMalfunction{});
    case Event::reset:
      return LEDStateMachine::Dispatch(ResetButton{});
    case Event::indicator_on:
      return LEDStateMachine::Dispatch(IndicatorOn{});
    case Event::indicator_off:
      return LEDStateMachine::Dispatch(IndicatorOff{});
  }
}

State Current() {
  if (LEDStateMachine::IsInState<BootUp>()) return State::boot;
  if (LEDStateMachine::IsInState<InternetNotConnected>()) return State::internet;
  if (LEDStateMachine::IsInState<ServerNotConnected>()) return State::server;
  if (LEDStateMachine::IsInState<Normal>()) return State::normal;
  if (LEDStateMachine::IsInState<SystemErrorPanic>()) return State::panic;
  return State::reset;
}

// Events that lead from the start to each state.
std::vector<Event> PathTo(State state) {
  switch (state) {
    case State::boot:
      return {};
    case State::internet:
      return {Event::net_down};
    case State::server:
      return {Event::net_up};
    case State::normal:
      return {Event::net_up, Event::server_up};
    case State::panic:
      return {Event::bt_fail};
    case State::reset:
      return {Event::net_up, Event::reset};
  }
  return {};
}

// Every test gets a fresh LED singleton on recording lines, blinking at a hundredth of the
// real pace, and a freshly started machine.
class LEDStateMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallLed(); }
  void TearDown() override { Singleton<ui::LED>::Destroy(); }

  void InstallLed() {
    auto recording = std::make_unique<RecordingLedLines>();
    lines_ = recording.get();
    Singleton<ui::LED>::Install(std::make_unique<ui::LED>(std::move(recording), 0.01));
  }

  void StartIn(State state) {
    LEDStateMachine::Start();
    for (const Event event : PathTo(state)) Dispatch(event);
    ASSERT_EQ(Current(), state);
  }

  // Waits until the blink thread has written `count` more values after `mark`.
  std::vector<LineWrite> BlinkWritesAfter(std::size_t mark, std::size_t count) const {
    EXPECT_TRUE(WaitUntil([&] { return lines_->Count() >= mark + count; }));
    return lines_->Writes(mark);
  }

  RecordingLedLines* lines_ = nullptr;
};

TEST_F(LEDStateMachineTest, TransitionTable) {
  using S = State;
  // Columns in the order of kAllEvents:
  //   net_up    net_down    server_up  server_down bt_fail   reset      ind_on     ind_off
  const struct {
    State from;
    std::array<State, kAllEvents.size()> to;
  } table[] = {
      {S::boot, {S::server, S::internet, S::boot, S::boot, S::panic, S::boot, S::boot, S::boot}},
      {S::internet,
       {S::server, S::internet, S::internet, S::internet, S::panic, S::reset, S::internet, S::internet}},
      {S::server, {S::server, S::internet, S::normal, S::server, S::panic, S::reset, S::server, S::server}},
      {S::normal, {S::normal, S::internet, S::normal, S::server, S::panic, S::reset, S::normal, S::normal}},
      {S::panic, {S::panic, S::panic, S::panic, S::panic, S::panic, S::panic, S::panic, S::panic}},
      {S::reset, {S::reset, S::reset, S::reset, S::reset, S::reset, S::reset, S::reset, S::reset}},
  };
  for (const auto& row : table) {
    for (std::size_t e = 0; e < kAllEvents.size(); ++e) {
      SCOPED_TRACE("from state " + std::to_string(static_cast<int>(row.from)) + ", event " + std::to_string(e));
      StartIn(row.from);
      Dispatch(kAllEvents[e]);
      EXPECT_EQ(Current(), row.to[e]);
    }
  }
}

// What each state shows on entry: a steady colour, or a pattern on the blink thread.
TEST_F(LEDStateMachineTest, EntryActionsShowTheState) {
  const struct {
    State state;
    bool blinking;
    std::vector<LedColour> colours;  // steady: the lit colours; blinking: the colours that flash
  } table[] = {
      {State::boot, false, {LedColour::blue}},
      {State::internet, true, {LedColour::red}},
      {State::server, true, {LedColour::red}},
      {State::normal, true, {LedColour::green}},
      {State::panic, false, {LedColour::red}},
      {State::reset, true, {LedColour::red, LedColour::green, LedColour::blue}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE("state " + std::to_string(static_cast<int>(row.state)));
    InstallLed();
    StartIn(row.state);
    const std::size_t mark = lines_->Count();
    EXPECT_EQ(Singleton<ui::LED>::Instance().IsBlinking(), row.blinking);
    if (!row.blinking) {
      for (const LedColour colour : {LedColour::red, LedColour::green, LedColour::blue}) {
        const bool lit = std::find(row.colours.begin(), row.colours.end(), colour) != row.colours.end();
        EXPECT_EQ(lines_->Value(colour), lit ? 1 : 0);
      }
      continue;
    }
    const std::vector<LineWrite> writes = BlinkWritesAfter(mark, 12);
    ASSERT_FALSE(writes.empty());
    for (const LedColour colour : row.colours) {
      int ons = 0;
      int offs = 0;
      for (const LineWrite& write : writes) {
        if (write.colour != colour) continue;
        (write.value ? ons : offs) += 1;
      }
      EXPECT_GE(ons, 1);
      EXPECT_GE(offs, 1);
    }
    for (const LineWrite& write : writes) {
      EXPECT_NE(std::find(row.colours.begin(), row.colours.end(), write.colour), row.colours.end());
    }
  }
}

// The indicator only sets amber, in the three connectivity states, and never stops the
// pattern; state changes never turn amber off. In BootUp the indicator is ignored.
TEST_F(LEDStateMachineTest, AmberFollowsTheIndicatorOnly) {
  StartIn(State::boot);
  Dispatch(Event::indicator_on);
  EXPECT_EQ(lines_->Value(LedColour::amber), 0);

  StartIn(State::normal);
  Dispatch(Event::indicator_on);
  EXPECT_EQ(lines_->Value(LedColour::amber), 1);
  EXPECT_TRUE(Singleton<ui::LED>::Instance().IsBlinking());
  const std::size_t mark = lines_->Count();
  const std::vector<LineWrite> after_indicator = BlinkWritesAfter(mark, 4);
  ASSERT_FALSE(after_indicator.empty());
  EXPECT_EQ(after_indicator.front().colour, LedColour::green) << "the pattern keeps running";

  for (const Event event : {Event::server_down, Event::net_down, Event::net_up, Event::server_up}) {
    Dispatch(event);
    EXPECT_EQ(lines_->Value(LedColour::amber), 1);
  }
  Dispatch(Event::indicator_off);
  EXPECT_EQ(lines_->Value(LedColour::amber), 0);
  Dispatch(Event::reset);
  Dispatch(Event::indicator_on);
  EXPECT_EQ(lines_->Value(LedColour::amber), 0) << "SystemReset ignores the indicator";

  std::size_t amber_writes = 0;
  for (const LineWrite& write : lines_->Writes()) amber_writes += write.colour == LedColour::amber;
  EXPECT_EQ(amber_writes, 2u);
}

// Two state changes back to back: only the last state's pattern runs, on one thread.
TEST_F(LEDStateMachineTest, QuickStateChangesLeaveOneBlinkThread) {
  StartIn(State::boot);
  Dispatch(Event::net_up);
  Dispatch(Event::server_up);
  const std::size_t mark = lines_->Count();
  const std::vector<LineWrite> writes = BlinkWritesAfter(mark, 12);
  ASSERT_FALSE(writes.empty());
  for (const LineWrite& write : writes) {
    EXPECT_EQ(write.colour, LedColour::green);
    EXPECT_EQ(write.thread, writes.front().thread);
  }
  EXPECT_NE(writes.front().thread, std::this_thread::get_id());
}

// Once reset, every event is ignored and the red-green-blue cycle keeps running on the
// same thread.
TEST_F(LEDStateMachineTest, ResetIsFinalAndKeepsCycling) {
  StartIn(State::normal);
  Dispatch(Event::reset);
  const std::vector<LineWrite> before = BlinkWritesAfter(lines_->Count(), 6);
  ASSERT_FALSE(before.empty());
  for (const Event event : kAllEvents) Dispatch(event);
  EXPECT_EQ(Current(), State::reset);
  const std::vector<LineWrite> after = BlinkWritesAfter(lines_->Count(), 6);
  for (const LineWrite& write : after) {
    EXPECT_NE(write.colour, LedColour::amber);
    EXPECT_EQ(write.thread, before.front().thread);
  }
}

// The Bluetooth malfunction ends when BLE provisioning is set up after all: the LED shows what
// the connectivity events since the malfunction lead to, as if they had come without it.
TEST_F(LEDStateMachineTest, ARecoveryEndsThePanicWithTheConnectivityItFollowed) {
  const struct {
    State before;
    std::vector<Event> during;
    State after;
  } table[] = {
      {State::boot, {}, State::boot},
      {State::boot, {Event::net_up}, State::server},
      {State::boot, {Event::server_up}, State::boot},
      {State::internet, {Event::net_up, Event::server_up}, State::normal},
      {State::server, {}, State::server},
      {State::server, {Event::server_up, Event::net_up}, State::normal},
      {State::normal, {Event::server_down}, State::server},
      {State::normal, {Event::net_down, Event::reset, Event::indicator_on}, State::internet},
      {State::normal, {Event::net_down, Event::net_up}, State::server},
  };
  for (const auto& row : table) {
    SCOPED_TRACE("from state " + std::to_string(static_cast<int>(row.before)) + " after " +
                 std::to_string(row.during.size()) + " events");
    StartIn(row.before);
    Dispatch(Event::bt_fail);
    for (const Event event : row.during) Dispatch(event);
    ASSERT_EQ(Current(), State::panic);
    LEDStateMachine::Dispatch(BluetoothRecovered{});
    EXPECT_EQ(Current(), row.after);
  }
  // Outside the panic a recovery changes nothing; the reset stays final.
  for (const State state : {State::boot, State::internet, State::server, State::normal, State::reset}) {
    StartIn(state);
    LEDStateMachine::Dispatch(BluetoothRecovered{});
    EXPECT_EQ(Current(), state);
  }
}

// Button events arrive on the bus listener's thread while the application dispatches its
// own; dispatch is serialised, so the machine ends in one state with one blink thread.
TEST_F(LEDStateMachineTest, ConcurrentDispatchIsSerialised) {
  StartIn(State::server);
  std::thread application([] {
    for (int i = 0; i < 20; ++i) {
      Dispatch(Event::server_up);
      Dispatch(Event::indicator_on);
      Dispatch(Event::server_down);
      Dispatch(Event::indicator_off);
    }
  });
  std::thread listener([] {
    for (int i = 0; i < 20; ++i) {
      Dispatch(Event::net_down);
      Dispatch(Event::net_up);
    }
    Dispatch(Event::reset);
  });
  application.join();
  listener.join();

  EXPECT_EQ(Current(), State::reset);
  const std::vector<LineWrite> writes = BlinkWritesAfter(lines_->Count(), 12);
  ASSERT_FALSE(writes.empty());
  for (const LineWrite& write : writes) {
    EXPECT_EQ(write.thread, writes.front().thread);
    EXPECT_NE(write.colour, LedColour::amber);
  }
}

}  // namespace
