#pragma once

#include <cstdint>
#include <functional>

namespace packet {

// Source of the current UNIX time in seconds; messages that carry "now" take one so tests can fix it.
using UnixClock = std::function<std::int64_t()>;

std::int64_t SystemUnixTime();

}  // namespace packet
