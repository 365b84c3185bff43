#pragma once

#include <cstdint>

namespace ipc {

// Where the platform's bus broker listens (OpenWrt 21.02 and later).
inline constexpr const char* kDefaultSocket = "/var/run/ubus/ubus.sock";

// How long a call or an event waits for the bus before it gives up.
inline constexpr std::int32_t kDefaultCallTimeoutSeconds = 30;

}  // namespace ipc
