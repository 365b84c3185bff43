#pragma once

#include <chrono>

// The periods of a poller; the defaults are the daemon's. A fold counts `fold_unit`s.
struct PollPeriods {
  std::chrono::milliseconds fold_unit{std::chrono::minutes(1)};
  std::chrono::milliseconds retry{std::chrono::seconds(2)};
};
