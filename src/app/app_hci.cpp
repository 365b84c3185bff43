// Supervision of the Bluetooth controller: its HCI command counter must move while the
// mesh daemon drives it.

#include "app/app.h"
#include "hci/hci_socket_controller.h"
#include "log/log.h"
#include "mailbox/message_id.h"

namespace {
constexpr int kFirstController = 0;
}

App::HciOutcome App::CheckHci(HciCounters& counters, bool log_ok) {
  const auto reading = hci_->ReadCommandCount(kFirstController);
  if (reading.status == HciController::Status::socket_failed) {
    LOG_DEBUG << "Can't open HCI socket.";
    return HciOutcome::failed;
  }
  if (reading.status == HciController::Status::info_failed) {
    LOG_DEBUG << "Can't get device info.";
    return HciOutcome::failed;
  }
  if (log_ok) LOG_VERBOSE << "OK";
  counters.current = reading.commands_sent;
  LOG_VERBOSE << "tx: " << counters.current;
  HciOutcome outcome = HciOutcome::healthy;
  if (counters.current == counters.previous) {
    LOG_VERBOSE << "Wrong.. need to restart daemon";
    PostToSelf(mailbox::SYS_EVT_MESHD_MALFUNCTION);
    outcome = HciOutcome::malfunction;
  }
  counters.previous = counters.current;
  return outcome;
}

void App::HCIStatus(bool cancelled) {
  if (cancelled) return;
  switch (CheckHci(periodic_hci_, true)) {
    case HciOutcome::failed:
      ScheduleHCICheck();
      break;
    case HciOutcome::healthy:
      ArmHciCheck(platform_.hci_period);
      break;
    case HciOutcome::malfunction:
      break;  // the periodic check ends until a one-shot check fails again
  }
}

void App::HCIStatus2() {
  if (CheckHci(oneshot_hci_, false) == HciOutcome::failed) ScheduleHCICheck();
}

void App::ScheduleHCICheck() { ArmHciCheck(platform_.hci_retry); }

// One pending periodic check at most: the newest arming replaces the pending check. The
// periodic check re-arms itself on the timer worker while a message thread may schedule a
// retry, so cancelling and storing the new identifier is one step under the lock.
void App::ArmHciCheck(std::chrono::milliseconds delay) {
  const std::lock_guard<std::mutex> guard(hci_lock_);
  timers_->Cancel(hci_timer_id_);
  hci_timer_id_ = timers_->Add(delay, [this](bool cancelled) { HCIStatus(cancelled); });
}
