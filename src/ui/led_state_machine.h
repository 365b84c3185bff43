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
//   SystemErrorPanic      steady red, until Bluetooth recovers
//   SystemReset           fast red-green-blue cycle (final)
//
// During SystemErrorPanic the connectivity events are followed without being shown, so that
// the LED shows the state they lead to once Bluetooth recovers.
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
  virtual void React(const BluetoothRecovered&) {}
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

// What the LED shows of the gateway's connectivity, outside the two alarm states.
enum class Connectivity { boot_up, internet_not_connected, server_not_connected, normal };

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
  virtual Connectivity Shows() const = 0;
  void React(const BluetoothMalfunction&) override;
  void React(const ResetButton&) override;
  void React(const IndicatorOn&) override;
  void React(const IndicatorOff&) override;
  using LEDStateMachine::React;
};

class InternetNotConnected : public LedConnectivityState {
 public:
  Connectivity Shows() const override { return Connectivity::internet_not_connected; }
  void Entry() override;
  void React(const NetworkConnected&) override;
  using LedConnectivityState::React;
};

class ServerNotConnected : public LedConnectivityState {
 public:
  Connectivity Shows() const override { return Connectivity::server_not_connected; }
  void Entry() override;
  void React(const NetworkDisconnected&) override;
  void React(const ServerConnected&) override;
  using LedConnectivityState::React;
};

class Normal : public LedConnectivityState {
 public:
  Connectivity Shows() const override { return Connectivity::normal; }
  void Entry() override;
  void React(const NetworkDisconnected&) override;
  void React(const ServerDisconnected&) override;
  using LedConnectivityState::React;
};

class SystemErrorPanic : public LEDStateMachine {
 public:
  // Enters the panic over a state that showed `shown`.
  static void Over(Connectivity shown) { underneath_ = shown; }

  void Entry() override;
  void React(const NetworkConnected&) override;
  void React(const NetworkDisconnected&) override;
  void React(const ServerConnected&) override;
  void React(const ServerDisconnected&) override;
  void React(const BluetoothRecovered&) override;
  using LEDStateMachine::React;

 private:
  // What the connectivity events since the malfunction lead to; changed under Dispatch's lock.
  static inline Connectivity underneath_ = Connectivity::boot_up;
};

class SystemReset : public LEDStateMachine {
 public:
  void Entry() override;
};
