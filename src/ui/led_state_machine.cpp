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
void BootUp::React(const BluetoothMalfunction&) { Transit<SystemErrorPanic>(); }

void LedConnectivityState::React(const BluetoothMalfunction&) { Transit<SystemErrorPanic>(); }
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

void SystemReset::Entry() {
  Led().StopBlinking();
  Led().RGBBlinking();
}
