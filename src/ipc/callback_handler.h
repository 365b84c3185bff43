#pragma once

#include <functional>

namespace ipc {

// Receives one NUL-terminated JSON text (a reply or an event's data), valid only during
// the call.
using CallbackHandler = std::function<void(const char*)>;

}  // namespace ipc
