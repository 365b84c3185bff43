#pragma once

#include <chrono>

// The periods of a PLC's polling; the defaults are the daemon's. A fold counts `fold_unit`s.
struct PollPeriods {
  std::chrono::milliseconds fold_unit{std::chrono::minutes(1)};
  // After a failure the pause before the next attempt starts at `retry` and doubles up to
  // `longest_retry`; a success starts it again at `retry`.
  std::chrono::milliseconds retry{std::chrono::seconds(2)};
  std::chrono::milliseconds longest_retry{std::chrono::seconds(60)};
  // Values of one PLC falling due within this time of the first due one are read with it.
  std::chrono::milliseconds group_window{std::chrono::seconds(1)};
};
