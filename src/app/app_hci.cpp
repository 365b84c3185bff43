// Supervision of the Bluetooth controller: its HCI command counter must move while the
// mesh daemon drives it.

#include "app/app.h"
#include "app/hci_socket_controller.h"
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
      hci_timer_id_ = timers_->Add(platform_.hci_period, [this](bool was_cancelled) { HCIStatus(was_cancelled); });
      break;
    case HciOutcome::malfunction:
      break;  // the periodic check ends until a one-shot check fails again
  }
}

void App::HCIStatus2() {
  if (CheckHci(oneshot_hci_, false) == HciOutcome::failed) ScheduleHCICheck();
}

void App::ScheduleHCICheck() {
  // One pending periodic check at most: a newer schedule replaces the pending one.
  timers_->Cancel(hci_timer_id_);
  hci_timer_id_ = timers_->Add(platform_.hci_retry, [this](bool cancelled) { HCIStatus(cancelled); });
}
