#pragma once

#include <cstdint>
#include <string_view>

namespace mailbox {

// Message identifiers: 0x10xx system events, 0x20xx application requests.
enum MessageId : std::uint32_t {
  SYS_EVT_INDICATOR = 0x1001,             // payload bool
  SYS_EVT_NETWORK_CONNECTED = 0x1005,
  SYS_EVT_NETWORK_DISCONNECTED = 0x1006,
  SYS_EVT_SERVER_CONNECTED = 0x1007,
  SYS_EVT_SERVER_DISCONNECTED = 0x1008,
  SYS_EVT_BLUETOOTH_MALFUNCTION = 0x1014,
  SYS_EVT_MESHD_MALFUNCTION = 0x1015,
  SYS_EVT_BLUETOOTH_RECOVERED = 0x1016,   // BLE provisioning set up after a failed start
  APP_EVT_OAUTH_REQUEST = 0x2001,
  APP_EVT_WEBSOCKET_SUBSCRIBE = 0x2003,   // payload std::string: device identifier
  APP_EVT_WEBSOCKET_EVT_FOLDS = 0x2004,   // payload JSON {"device_id", "folds"}
  APP_EVT_CHECK_NETWORK = 0x2005,
  APP_EVT_SCAN_WIRELESS_AP = 0x2006,
  APP_EVT_SET_WIRELESS_AP = 0x2007,       // payload JSON {"s", "e", "k"[, "o"]}
  APP_EVT_START_MESH = 0x2008,
  APP_EVT_CHECK_HCI = 0x2009,
  APP_EVT_WEBSOCKET_EVT_BEACON = 0x200a,  // payload JSON {"device_id", "beacon"}
  APP_EVT_WEBSOCKET_UNSUBSCRIBE = 0x200b, // payload std::string: device identifier
};

// The identifier's name as written above, or an empty text for an unknown identifier.
std::string_view MessageName(std::uint32_t id) noexcept;

}  // namespace mailbox
