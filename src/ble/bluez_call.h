#pragma once

#include <functional>
#include <optional>

#include <sdbus-c++/sdbus-c++.h>

namespace org::bluez {

// The reply handler of an asynchronous call to bluetoothd: no error on success.
using ReplyCallback = std::function<void(const std::optional<sdbus::Error>& error)>;

inline constexpr const char* kBluezService = "org.bluez";

}  // namespace org::bluez
