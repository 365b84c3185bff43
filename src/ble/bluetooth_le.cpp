// The component's threads, the phone's requests and replies, and the calls the application
// makes into it.

#include "ble/bluetooth_le.h"

#include "ble/bluez_presence.h"
#include "ble/provisioning_protocol.h"
#include "ble/publication.h"
#include "log/log.h"

BluetoothLE::BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, ProvisioningSettings& settings,
                         BlePlatform platform)
    : application_(std::move(application)),
      platform_(std::move(platform)),
      settings_(settings),
      schedule_(platform_.set_up_retry_first, platform_.set_up_retry_longest),
      pace_(platform_.transmit_pace, platform_.request_burst, platform_.request_backlog),
      transmit_(platform_.transmit_pace, [this](Message reply) { NotifyPhone(reply); },
                {platform_.reply_capacity, queue::Overflow::kDropOldest}),
      protocol_(std::make_unique<ble::ProvisioningProtocol>(
          application_, settings_, [this](ble::Bytes reply) { QueueReply(reply); }, platform_)),
      receive_(std::chrono::milliseconds(0), [this](Message request) { protocol_->HandleRequest(request); }),
      keeper_([this] { KeepPublished(); }) {}

BluetoothLE::~BluetoothLE() {
  keeper_stop_.Stop();
  keeper_.join();
  transmit_.Stop();
  receive_.Stop();
  Deinitialize();
}

// On a publication's event-loop thread: a value the phone wrote into char2. Requests are
// taken only while the window is open, and at the pace the protocol needs.
void BluetoothLE::OnWrite(const Message& value) {
  const auto now = Clock::now();
  if (!window_.IsOpen(now)) {
    if (!closed_drop_reported_.exchange(true)) LOG_WARN << "Request dropped: the provisioning window is closed";
    return;
  }
  const auto verdict = pace_.Admit(now, transmit_.Size());
  if (verdict.report > 0) {
    LOG_WARN << verdict.report << " request(s) from the phone dropped: faster than its replies leave";
  }
  if (verdict.taken) receive_.Push(value);
}

void BluetoothLE::QueueReply(const Message& reply) {
  if (transmit_.Push(reply) == queue::Pushed::kDroppedOldest) {
    LOG_WARN << "Reply queue full (" << platform_.reply_capacity << "): the oldest reply dropped";
  }
}

void BluetoothLE::NotifyPhone(const Message& reply) {
  const std::shared_lock<std::shared_mutex> guard(publication_lock_);
  if (publication_) publication_->Notify(reply);
}

// Any change of the watched device's "Connected", whatever its new value.
void BluetoothLE::OnConnectionChanged(bool connected) {
  LOG_VERBOSE << "DisconnectEvent : " << connected;
  protocol_->PhoneConnectionChanged();
}

void BluetoothLE::PutWirelessAPList(const nlohmann::json& results) { protocol_->PutWirelessAPList(results); }

void BluetoothLE::WirelessScanFailed() { protocol_->WirelessScanFailed(); }

void BluetoothLE::PutWirelessConnectionEvent(bool connected, const std::string& /*address*/) {
  protocol_->PutWirelessConnectionEvent(connected);
}
