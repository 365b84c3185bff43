// The keeper thread: sets the provisioning service up again while bluetoothd is absent or
// refuses, and keeps the advertisement to the provisioning window.

#include "ble/bluetooth_le.h"
#include "ble/bluez_presence.h"
#include "ble/publication.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "nvram/provisioning_settings.h"

namespace {

long long Milliseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

}  // namespace

// Sleeps until an attempt is due, the window closes, or something it watches changed.
void BluetoothLE::KeepPublished() {
  const auto woken = [this] { return bluez_appeared_ || bluez_vanished_ || refused_ || plans_changed_; };
  while (true) {
    std::optional<Clock::time_point> wake;
    {
      const std::lock_guard<std::mutex> keep(keeper_lock_);
      wake = NextWake(Clock::now());
    }
    const bool running = wake ? keeper_stop_.WaitUntil(*wake, woken) : keeper_stop_.WaitUntil(woken);
    if (!running) return;
    const std::lock_guard<std::mutex> keep(keeper_lock_);
    KeepUp(Clock::now());
  }
}

std::optional<BluetoothLE::Clock::time_point> BluetoothLE::NextWake(Clock::time_point now) const {
  if (!active_) return std::nullopt;
  auto wake = schedule_.Due();
  const auto closes = window_.ClosesAt(now);
  if (closes && (!wake || *closes < *wake)) wake = closes;
  return wake;
}

void BluetoothLE::KeepUp(Clock::time_point now) {
  const bool appeared = bluez_appeared_.exchange(false);
  const bool vanished = bluez_vanished_.exchange(false);
  const bool refused = refused_.exchange(false);
  plans_changed_ = false;
  if (!active_) return;
  bool published = false;
  {
    const std::shared_lock<std::shared_mutex> guard(publication_lock_);
    published = publication_ != nullptr;
  }
  if (published && (vanished || refused)) {
    LOG_WARN << (vanished ? "bluetoothd left the bus" : "bluetoothd refused the provisioning service")
             << ": setting it up again";
    Withdraw();
    schedule_.Failed(now);
  }
  if (appeared) schedule_.BluezAppeared();
  const auto due = schedule_.Due();
  if (due && now >= *due) Retry(now);
  FollowWindow(now);
}

void BluetoothLE::Retry(Clock::time_point now) {
  WatchBluez();
  std::string failure;
  switch (SetUp(failure)) {
    case SetUpOutcome::published:
      schedule_.Succeeded();
      LOG_INFO << "Bluetooth LE set up";
      mailbox::PostMessage(*application_, this, mailbox::SYS_EVT_BLUETOOTH_RECOVERED);
      break;
    case SetUpOutcome::bluetoothd_unavailable:
      schedule_.Failed(now);
      LOG_DEBUG << "Bluetooth LE set-up failed again: " << failure << "; next attempt in "
                << Milliseconds(schedule_.Pause()) << " ms";
      break;
    case SetUpOutcome::identity_unreadable:
      schedule_.Succeeded();
      active_ = false;
      presence_.reset();
      LOG_ERROR << "Bluetooth LE set-up given up: the identity cannot be read";
      break;
  }
}

// Advertises while the window is open; its closing is told once.
void BluetoothLE::FollowWindow(Clock::time_point now) {
  const bool open = window_.IsOpen(now);
  if (!open && !window_closed_reported_) {
    LOG_INFO << "Provisioning window closed: advertisement withdrawn until the button is pressed";
  }
  window_closed_reported_ = !open;
  const std::shared_lock<std::shared_mutex> guard(publication_lock_);
  if (!publication_ || publication_->Advertising() == open) return;
  try {
    if (open) {
      publication_->StartAdvertising(LocalName());
    } else {
      publication_->StopAdvertising();
    }
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Advertising could not follow the provisioning window: " << error.getMessage();
    refused_ = true;
  }
}

BluetoothLE::Clock::duration BluetoothLE::WindowLength() const {
  return platform_.window_minute * settings_.ProvisioningWindow();
}

void BluetoothLE::OpenProvisioningWindow() {
  if (!active_ || WindowLength() == Clock::duration::zero()) return;
  window_.Open(Clock::now(), WindowLength());
  closed_drop_reported_ = false;
  LOG_INFO << "Provisioning window open for " << settings_.ProvisioningWindow() << " min";
  plans_changed_ = true;
  keeper_stop_.Notify();
}

// On the watch's event-loop thread.
void BluetoothLE::OnBluezPresence(bool present) {
  LOG_DEBUG << "bluetoothd " << (present ? "appeared on" : "left") << " the bus";
  (present ? bluez_appeared_ : bluez_vanished_) = true;
  keeper_stop_.Notify();
}

// On a publication's event-loop thread; a refusal of a withdrawn publication is ignored.
void BluetoothLE::OnRefused(std::uint64_t generation) {
  if (generation != generation_) return;
  refused_ = true;
  keeper_stop_.Notify();
}
