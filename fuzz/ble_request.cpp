// A value a phone writes into the provisioning characteristic: decoded and dispatched as
// the receive thread does. Every reply must be a CBOR object with a text "R" (or the null
// of "I" without identity), and nothing may escape.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ble/provisioning_protocol.h"
#include "nvram/nvram.h"
#include "packet_fuzz_support.h"

namespace {

class DiscardingPoster : public mailbox::DepeschePoster, public mailbox::DepescheDestination {
 public:
  void Post(const mailbox::Depesche& /*message*/) override {}
  mailbox::DepescheDestination* Destination() override { return this; }
  void OnMessage(const mailbox::Depesche& /*message*/) override {}
};

void CheckReply(const ble::Bytes& reply) {
  const auto decoded = nlohmann::json::from_cbor(reply);
  fuzz_support::Require(decoded.is_null() || (decoded.is_object() && decoded.at("R").is_string()), "reply shape");
}

// A store with no bus behind it: setters change the memory copy only.
NVRAM& Store() {
  static NVRAM store("/nonexistent/ubus.sock");
  return store;
}

ble::ProvisioningProtocol& Protocol() {
  static ble::ProvisioningProtocol protocol(std::make_shared<DiscardingPoster>(), Store(), CheckReply, BlePlatform{});
  return protocol;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  Store().DeviceID("0a1b2c3d4e5f");
  Store().SerialNumber("0a1b2c3d4e5f0001");
  Protocol();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Protocol().HandleRequest(ble::Bytes(data, data + size));
  return 0;
}
