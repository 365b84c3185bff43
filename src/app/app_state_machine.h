#pragma once

#include "common/network_events.h"
#include "common/tinyfsm.h"

// How far the gateway has come towards the cloud: AppInit until the WAN is first up,
// then AppOAuthRequest for good.
class AppStateMachine : public tinyfsm::Fsm<AppStateMachine> {
 public:
  virtual ~AppStateMachine() = default;

  virtual void React(const NetworkConnected&) {}
  virtual void React(const NetworkDisconnected&) {}
  virtual void Entry() {}

  static void SetInitialState();
};

class AppInit : public AppStateMachine {
 public:
  void React(const NetworkConnected&) override;
  using AppStateMachine::React;
};

class AppOAuthRequest : public AppStateMachine {};
