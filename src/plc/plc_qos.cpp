#include "plc/plc_qos.h"

#include "log/log.h"

PLCQoS::PLCQoS(std::string name, int fold, Clock::time_point created, const PollPeriods& periods)
    : name_(std::move(name)),
      periods_(periods),
      fold_(fold),
      due_(created + periods.fold_unit * fold),
      backoff_(periods.retry, periods.longest_retry) {
  LOG_VERBOSE << "fold : " << fold;
}

std::size_t PLCQoS::Read(Clock::time_point round_start) {
  due_ = round_start + periods_.fold_unit * fold_;
  alone_ = false;
  backoff_.Reset();
  const std::size_t ended = refusals_;
  refusals_ = 0;
  return ended;
}

bool PLCQoS::Refused(Clock::time_point now) {
  due_ = now + backoff_.Next();
  return refusals_++ == 0;
}
