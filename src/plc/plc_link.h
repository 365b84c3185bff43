#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "ipc/reconnect_backoff.h"
#include "plc/plc_status.h"
#include "plc/poll_periods.h"

// Whether a PLC answers, and when it may be asked again. A run of requests without a valid
// answer (no connection, time-out, closed connection, short or mismatched frame) costs one
// error line with the first reason, and pauses that double from the first retry period up to
// the longest; the first answer ends the run with one line saying how long the PLC was down
// and how many reads failed. It also keeps the record of the reads that the operator sees.
// Not thread-safe: the PLC guards it.
class PlcLink {
 public:
  using Clock = std::chrono::steady_clock;

  PlcLink(std::string name, const PollPeriods& periods);

  // A request was answered (with values or with an error state).
  void Answered(Clock::time_point now);
  // A request was not answered, for `reason`.
  void Failed(Clock::time_point now, const std::string& reason);
  // An answered request brought values (Read) or an error state for `reason` (Refused).
  void Read() { ++record_.reads_ok; }
  void Refused(const std::string& reason);

  // Nothing is sent before this time (the distant past while the PLC answers).
  Clock::time_point RetryAt() const { return retry_at_; }
  bool Failing() const { return record_.state == PlcState::kFailing; }
  const PlcReadRecord& Record() const { return record_; }

 private:
  const std::string name_;  // "PLC 3", for the log
  const std::chrono::milliseconds longest_;
  ipc::ReconnectBackoff backoff_;
  PlcReadRecord record_;  // its state's start is when a run of failures began
  std::size_t failed_reads_ = 0;  // in the current run
  Clock::time_point retry_at_ = Clock::time_point::min();
};
