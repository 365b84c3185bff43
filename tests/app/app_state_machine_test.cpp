#include "app/app_state_machine.h"

#include <gtest/gtest.h>

namespace {

void Dispatch(bool connected) {
  if (connected) {
    AppStateMachine::Dispatch(NetworkConnected{});
  } else {
    AppStateMachine::Dispatch(NetworkDisconnected{});
  }
}

}  // namespace

TEST(AppStateMachine, TransitionTable) {
  const struct {
    std::vector<bool> events;  // true: network connected, false: network disconnected
    bool authorising;          // ends in AppOAuthRequest
  } cases[] = {
      {{}, false},
      {{false}, false},
      {{true}, true},
      {{true, false}, true},
      {{false, false, true}, true},
      {{true, true, false, true}, true},
  };
  for (const auto& entry : cases) {
    tinyfsm::FsmList<AppStateMachine>::Start();
    for (const bool event : entry.events) Dispatch(event);
    EXPECT_EQ(AppStateMachine::IsInState<AppOAuthRequest>(), entry.authorising);
    EXPECT_EQ(AppStateMachine::IsInState<AppInit>(), !entry.authorising);
  }
}

namespace {

// A second machine that records entry order, to show FsmList sets every initial state
// before the first entry action runs.
struct Probe : tinyfsm::Fsm<Probe> {
  virtual ~Probe() = default;
  virtual void Entry() { app_machine_was_set = AppStateMachine::Current() != nullptr; }
  static void SetInitialState() { SetCurrent<Probe>(); }
  static inline bool app_machine_was_set = false;
};

}  // namespace

TEST(AppStateMachine, StartingAListSetsAllStatesBeforeAnyEntry) {
  tinyfsm::FsmList<Probe, AppStateMachine>::Start();
  EXPECT_TRUE(Probe::app_machine_was_set);
  EXPECT_TRUE(AppStateMachine::IsInState<AppInit>());
}
