// Publishing the provisioning service and advertisement through bluetoothd, the first-boot
// identity read, and withdrawing them again.

#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluetooth_le.h"
#include "ble/bluez_presence.h"
#include "ble/device_identity.h"
#include "ble/gatt_identifiers.h"
#include "ble/publication.h"
#include "hci/hci_socket_controller.h"
#include "ipc/ubus.h"
#include "log/log.h"
#include "mailbox/message_id.h"
#include "nvram/provisioning_settings.h"

namespace {

constexpr int kIdentityAttempts = 10;
constexpr std::int32_t kRebootTimeoutSeconds = 30;

}  // namespace

bool BluetoothLE::Initialize() {
  const std::lock_guard<std::mutex> keep(keeper_lock_);
  active_ = true;
  closed_drop_reported_ = false;
  window_.Open(Clock::now(), WindowLength());
  if (WindowLength() > Clock::duration::zero()) {
    LOG_INFO << "Provisioning window open for " << settings_.ProvisioningWindow() << " min";
  }
  WatchBluez();
  std::string failure;
  const SetUpOutcome outcome = SetUp(failure);
  if (outcome == SetUpOutcome::identity_unreadable) {
    active_ = false;
    presence_.reset();
  } else if (outcome == SetUpOutcome::bluetoothd_unavailable) {
    // bluetoothd or the bus is missing: the phone cannot reach the gateway until it is back
    LOG_ERROR << "Bluetooth LE set-up failed: " << failure;
    schedule_.Failed(Clock::now());
    LOG_INFO << "Bluetooth LE set-up: next attempt in "
             << std::chrono::duration_cast<std::chrono::milliseconds>(schedule_.Pause()).count() << " ms";
  }
  // The keeper follows the window's end and the retries from now on.
  plans_changed_ = true;
  keeper_stop_.Notify();
  return outcome == SetUpOutcome::published;
}

// One attempt: a fresh publication, installed only when every step succeeded.
BluetoothLE::SetUpOutcome BluetoothLE::SetUp(std::string& failure) {
  try {
    const std::uint64_t generation = generation_ + 1;
    auto publication = std::make_shared<ble::Publication>(
        platform_.bus_address,
        ble::Publication::Handlers{[this](const Message& value) { OnWrite(value); },
                                   [this](bool connected) { OnConnectionChanged(connected); },
                                   [this, generation] { OnRefused(generation); }});
    publication->PowerAdapter();
    if (!ReadIdentityIfFirstBoot()) return SetUpOutcome::identity_unreadable;
    publication->PublishGattApplication();
    if (window_.IsOpen(Clock::now())) publication->StartAdvertising(LocalName());
    LOG_DEBUG << "bus name : " << publication->BusName();
    generation_ = generation;  // before the event loop runs: a refusal names this publication
    publication->Listen();
    const std::unique_lock<std::shared_mutex> guard(publication_lock_);
    publication_ = std::move(publication);
    return SetUpOutcome::published;
  } catch (const sdbus::Error& error) {
    failure = error.getName() + " with message " + error.getMessage();
    return SetUpOutcome::bluetoothd_unavailable;
  }
}

bool BluetoothLE::ReadIdentityIfFirstBoot() {
  if (!settings_.FirstBoot()) return true;
  const auto controller = platform_.hci ? platform_.hci : std::make_shared<HciSocketController>();
  for (int attempt = 0; attempt < kIdentityAttempts; ++attempt) {
    const auto identity = ble::ReadAddresses(*controller, platform_.identity_wait);
    if (identity) {
      settings_.DeviceID(identity->device_id);
      settings_.SerialNumber(identity->serial_number);
      settings_.ClearFirstBoot();
      settings_.Hostname("quellaron-" + identity->device_id);
      ipc::UBUS(kRebootTimeoutSeconds, platform_.ubus_socket).Call("system", "reboot", "{}", nullptr);
      return true;
    }
    LOG_ERROR << "org::bluez::ReadAddresses return false";
    std::this_thread::sleep_for(platform_.identity_retry);
  }
  return false;
}

std::string BluetoothLE::LocalName() const { return ble::kLocalNamePrefix + settings_.DeviceID(); }

// bluetoothd's name is watched while provisioning lasts, so a late or restarted bluetoothd
// is set up at once. Without the bus there is nothing to watch: the next attempt tries again.
void BluetoothLE::WatchBluez() {
  if (presence_) return;
  try {
    presence_ = std::make_unique<ble::BluezPresence>(platform_.bus_address,
                                                     [this](bool present) { OnBluezPresence(present); });
  } catch (const sdbus::Error& error) {
    LOG_DEBUG << "bluetoothd's bus name cannot be watched: " << error.getMessage();
  }
}

void BluetoothLE::Deinitialize() {
  const std::lock_guard<std::mutex> keep(keeper_lock_);
  active_ = false;
  window_.Close();
  schedule_.Succeeded();
  presence_.reset();
  Withdraw();
}

// The old publication is destroyed here, alone: nobody else holds it once it is taken out.
void BluetoothLE::Withdraw() {
  std::shared_ptr<ble::Publication> withdrawn;
  {
    const std::unique_lock<std::shared_mutex> guard(publication_lock_);
    withdrawn = std::move(publication_);
    ++generation_;
  }
  withdrawn.reset();
}
