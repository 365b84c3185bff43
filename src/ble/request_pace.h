#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>

namespace ble {

// How fast the phone's requests are taken. A phone that follows the protocol waits for the
// replies to its request before it writes the next, and replies leave one per transmit pace.
// So a request is taken only while fewer than `backlog` replies wait for the phone, and at
// that pace with a burst (two written back to back are both answered); any other is dropped.
// Drops are reported in lines, at most one a second, each with the count since the last (the
// first drop at once; the rest with the next request a second or more after the last line).
//
// Thread-safe; the D-Bus event-loop thread calls it for every value the phone writes.
class RequestPace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kReportPeriod{1};

  struct Verdict {
    bool taken = false;
    std::size_t report = 0;  // dropped requests to report in a line now; 0: no line
  };

  RequestPace(std::chrono::milliseconds interval, std::size_t burst, std::size_t backlog);

  // A request written at `now` while `waiting` replies wait for the phone.
  Verdict Admit(Clock::time_point now, std::size_t waiting);

 private:
  bool Paced(Clock::time_point now);                         // caller holds lock_
  std::size_t ReportDue(Clock::time_point now);              // caller holds lock_

  const Clock::duration interval_;
  const Clock::duration tolerance_;  // how far ahead of the pace a burst may run
  const std::size_t backlog_;
  std::mutex lock_;
  std::optional<Clock::time_point> next_;  // when the pace would take the next request
  std::size_t unreported_ = 0;
  std::optional<Clock::time_point> reported_at_;
};

}  // namespace ble
