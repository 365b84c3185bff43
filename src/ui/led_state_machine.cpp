#include "ui/led_state_machine.h"

#include "common/singleton.h"
#include "ui/led.h"

namespace {

ui::LED& Led() { return Singleton<ui::LED>::Instance(); }

}  // namespace

void LEDStateMachine::SetInitialState() { SetCurrent<BootUp>(); }

void BootUp::Entry() {
  Led().StopBlinking();
  Led().SetValue(ui::LedColour::blue, 1);
}

void BootUp::React(const NetworkConnected&) { Transit<ServerNotConnected>(); }
void BootUp::React(const NetworkDisconnected&) { Transit<InternetNotConnected>(); }
void BootUp::React(const BluetoothMalfunction&) {
  SystemErrorPanic::Over(Connectivity::boot_up);
  Transit<SystemErrorPanic>();
}

void LedConnectivityState::React(const BluetoothMalfunction&) {
  SystemErrorPanic::Over(Shows());
  Transit<SystemErrorPanic>();
}
void LedConnectivityState::React(const ResetButton&) { Transit<SystemReset>(); }
void LedConnectivityState::React(const IndicatorOn&) { Led().SetValue(ui::LedColour::amber, 1); }
void LedConnectivityState::React(const IndicatorOff&) { Led().SetValue(ui::LedColour::amber, 0); }

void InternetNotConnected::Entry() {
  Led().StopBlinking();
  Led().Red0p5On1p5Off();
}

void InternetNotConnected::React(const NetworkConnected&) { Transit<ServerNotConnected>(); }

void ServerNotConnected::Entry() {
  Led().StopBlinking();
  Led().Red1p0On1p0Off();
}

void ServerNotConnected::React(const NetworkDisconnected&) { Transit<InternetNotConnected>(); }
void ServerNotConnected::React(const ServerConnected&) { Transit<Normal>(); }

void Normal::Entry() {
  Led().StopBlinking();
  Led().Green0p05On0p05Off0p05On2p0Off();
}

void Normal::React(const NetworkDisconnected&) { Transit<InternetNotConnected>(); }
void Normal::React(const ServerDisconnected&) { Transit<ServerNotConnected>(); }

void SystemErrorPanic::Entry() {
  Led().StopBlinking();
  Led().SetValue(ui::LedColour::red, 1);
}

// The transitions of the connectivity states, followed without being shown.
void SystemErrorPanic::React(const NetworkConnected&) {
  if (underneath_ == Connectivity::boot_up || underneath_ == Connectivity::internet_not_connected) {
    underneath_ = Connectivity::server_not_connected;
  }
}
void SystemErrorPanic::React(const NetworkDisconnected&) { underneath_ = Connectivity::internet_not_connected; }
void SystemErrorPanic::React(const ServerConnected&) {
  if (underneath_ == Connectivity::server_not_connected) underneath_ = Connectivity::normal;
}
void SystemErrorPanic::React(const ServerDisconnected&) {
  if (underneath_ == Connectivity::normal) underneath_ = Connectivity::server_not_connected;
}

void SystemErrorPanic::React(const BluetoothRecovered&) {
  switch (underneath_) {
    case Connectivity::boot_up:
      return Transit<BootUp>();
    case Connectivity::internet_not_connected:
      return Transit<InternetNotConnected>();
    case Connectivity::server_not_connected:
      return Transit<ServerNotConnected>();
    case Connectivity::normal:
      return Transit<Normal>();
  }
}

void SystemReset::Entry() {
  Led().StopBlinking();
  Led().RGBBlinking();
}
