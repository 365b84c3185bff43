#pragma once

#include <cstdint>

namespace status {

// How long before `now` something happened at `when`, both in seconds on one clock; 0 for a
// time after `now` (a clock set back), so an age is never negative.
inline std::int64_t SecondsAgo(std::int64_t now, std::int64_t when) { return when < now ? now - when : 0; }

}  // namespace status
