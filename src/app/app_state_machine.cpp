#include "app/app_state_machine.h"

void AppStateMachine::SetInitialState() { SetCurrent<AppInit>(); }

void AppInit::React(const NetworkConnected&) { Transit<AppOAuthRequest>(); }
