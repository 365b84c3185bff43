#include "plc/plc_link.h"

#include <cstdio>

#include "log/log.h"

namespace {

std::string Seconds(std::chrono::steady_clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

}  // namespace

PlcLink::PlcLink(std::string name, const PollPeriods& periods)
    : name_(std::move(name)), longest_(periods.longest_retry), backoff_(periods.retry, periods.longest_retry) {
  record_.since = Clock::now();
}

void PlcLink::Answered(Clock::time_point now) {
  backoff_.Reset();
  retry_at_ = Clock::time_point::min();
  const PlcState before = record_.state;
  if (before == PlcState::kAnswering) return;
  record_.state = PlcState::kAnswering;
  const Clock::time_point failing_since = record_.since;
  record_.since = now;
  if (before != PlcState::kFailing) return;
  LOG_INFO << name_ << " answers again after " << Seconds(now - failing_since) << "; " << failed_reads_
           << " read(s) failed meanwhile";
}

void PlcLink::Failed(Clock::time_point now, const std::string& reason) {
  const auto pause = backoff_.Next();
  retry_at_ = now + pause;
  ++record_.reads_failed;
  record_.last_error = reason;
  if (!Failing()) {
    record_.state = PlcState::kFailing;
    record_.since = now;
    failed_reads_ = 0;
    LOG_ERROR << name_ << " is not answering: " << reason << "; asked again after " << Seconds(pause)
              << ", then after pauses doubling up to " << Seconds(longest_);
  }
  ++failed_reads_;
}

void PlcLink::Refused(const std::string& reason) {
  ++record_.reads_failed;
  record_.last_error = reason;
}
