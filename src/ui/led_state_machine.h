#pragma once

#include <mutex>

#include "common/tinyfsm.h"
#include "ui/led_events.h"

// What the status LED shows, driven by connectivity, Bluetooth and button events:
//
//   BootUp                steady blue
//   InternetNotConnected  slow red flash
//   ServerNotConnected    even red blinking
//   Normal                green double flash
//   SystemErrorPanic      steady red (final)
//   SystemReset           fast red-green-blue cycle (final)
//
// Entry actions reach the LED through Singleton<ui::LED>. Events arrive from more than one
// thread (the application's messages, the button handler), so Dispatch is serialised.
class LEDStateMachine : public tinyfsm::Fsm<LEDStateMachine> {
 public:
  virtual ~LEDStateMachine() = default;

  virtual void React(const NetworkConnected&) {}
  virtual void React(const NetworkDisconnected&) {}
  virtual void React(const ServerConnected&) {}
  virtual void React(const ServerDisconnected&) {}
  virtual void React(const BluetoothMalfunction&) {}
  virtual void React(const ResetButton&) {}
  virtual void React(const IndicatorOn&) {}
  virtual void React(const IndicatorOff&) {}
  virtual void Entry() {}

  static void SetInitialState();

  // Hands the event to the current state, one event at a time across threads.
  template <typename Event>
  static void Dispatch(const Event& event) {
    const std::lock_guard<std::mutex> guard(dispatch_lock_);
    tinyfsm::Fsm<LEDStateMachine>::Dispatch(event);
  }

 private:
  static inline std::mutex dispatch_lock_;
};

class BootUp : public LEDStateMachine {
 public:
  void Entry() override;
  void React(const NetworkConnected&) override;
  void React(const NetworkDisconnected&) override;
  void React(const BluetoothMalfunction&) override;
  using LEDStateMachine::React;
};

// The three connectivity states share their reactions to a Bluetooth malfunction, the
// reset button and the amber indicator.
class LedConnectivityState : public LEDStateMachine {
 public:
  void React(const BluetoothMalfunction&) override;
  void React(const ResetButton&) override;
  void React(const IndicatorOn&) override;
  void React(const IndicatorOff&) override;
  using LEDStateMachine::React;
};

class InternetNotConnected : public LedConnectivityState {
 public:
  void Entry() override;
  void React(const NetworkConnected&) override;
  using LedConnectivityState::React;
};

class ServerNotConnected : public LedConnectivityState {
 public:
  void Entry() override;
  void React(const NetworkDisconnected&) override;
  void React(const ServerConnected&) override;
  using LedConnectivityState::React;
};

class Normal : public LedConnectivityState {
 public:
  void Entry() override;
  void React(const NetworkDisconnected&) override;
  void React(const ServerDisconnected&) override;
  using LedConnectivityState::React;
};

class SystemErrorPanic : public LEDStateMachine {
 public:
  void Entry() override;
};

class SystemReset : public LEDStateMachine {
 public:
  void Entry() override;
};
