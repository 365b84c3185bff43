#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "ipc/reconnect_backoff.h"
#include "plc/poll_periods.h"

// When one value of a PLC is due: one fold after its last read (the first time one fold after
// its creation). A value the PLC refused is asked again after its own pauses, doubling from
// the first retry period up to the longest, so it delays no other value. A value whose
// request with others was refused is read in a request of its own until it reads again, so
// one bad address cannot fail the values it was grouped with. Not thread-safe: its PLC
// guards it.
class PLCQoS {
 public:
  using Clock = std::chrono::steady_clock;

  PLCQoS(std::string name, int fold, Clock::time_point created, const PollPeriods& periods);

  const std::string& Name() const { return name_; }
  int Fold() const { return fold_; }
  // Stores the fold only; the new period applies from the next read.
  void SetFold(int fold) { fold_ = fold; }
  Clock::time_point Due() const { return due_; }
  bool ReadAlone() const { return alone_; }

  // Read in the round that started at `round_start`: due one fold later. Returns how many
  // refusals in a row this read ends (0 when it was not refused).
  std::size_t Read(Clock::time_point round_start);
  // The request it shared with other values was refused: from now on it is read alone.
  void GroupRefused() { alone_ = true; }
  // Refused alone at `now`: due after its next pause. True for the first refusal in a row.
  bool Refused(Clock::time_point now);

 private:
  const std::string name_;
  const PollPeriods periods_;
  int fold_;
  Clock::time_point due_;
  bool alone_ = false;
  std::size_t refusals_ = 0;
  ipc::ReconnectBackoff backoff_;
};
