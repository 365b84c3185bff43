#include "plc/plc_qos.h"

#include "log/log.h"

PLCQoS::PLCQoS(std::string name, int fold, ReadCallback callback, std::shared_ptr<timer::TimerWorker> worker,
               PollPeriods periods)
    : name_(std::move(name)), periods_(periods), fold_(fold), callback_(std::move(callback)), timer_(std::move(worker)) {
  Arm(periods_.fold_unit * fold_.load());
  LOG_VERBOSE << "fold : " << fold;
}

void PLCQoS::Arm(std::chrono::milliseconds delay) {
  timer_id_ = timer_.Add(delay, [this](bool cancelled) { TimerHandler(cancelled); });
}

void PLCQoS::TimerHandler(bool cancelled) {
  if (cancelled) return;
  LOG_VERBOSE << "Poll " << name_ << " (fold " << fold_ << ")";
  Arm(periods_.fold_unit * fold_.load());
  if (!callback_(name_)) {
    timer_.Cancel(timer_id_);
    Arm(periods_.retry);
  }
}
