#pragma once

#include "common/network_events.h"

// Events that decide what the status LED shows, besides NetworkConnected and
// NetworkDisconnected (common/network_events.h), which the application machine shares.
struct ServerConnected {};
struct ServerDisconnected {};
struct BluetoothMalfunction {};
struct BluetoothRecovered {};
struct ResetButton {};
struct IndicatorOn {};
struct IndicatorOff {};
