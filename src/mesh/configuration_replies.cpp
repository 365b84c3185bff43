// The status replies of the gateway's own Configuration Server, and failed sends to it.

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "mesh/registration_attempt.h"
#include "packet/config/model_resp_opcode.h"
#include "packet/config/status.h"
#include "packet/serialization.h"

namespace {

constexpr std::uint32_t kDefaultTTLSet = 0x800D;
constexpr std::uint32_t kAppKeyAdd = 0x00;
constexpr std::uint32_t kModelAppBind = 0x803D;
constexpr std::uint32_t kModelSubscriptionAdd = 0x801B;

// A Model App Status or Model Subscription Status: success only with all 9 bytes and status 0.
template <typename Status>
bool ModelStatusSucceeded(const std::vector<unsigned char>& parameters) {
  if (parameters.size() != Status::kLength) return false;
  Status status;
  return packet::Deserialization(status, parameters) && status.Status == 0;
}

}  // namespace

void BluetoothMesh::OnConfigurationReply(const std::vector<std::uint8_t>& data) {
  packet::config::ModelRespOPCode reply(static_cast<std::uint32_t>(data.size()));
  if (!packet::Deserialization(reply, data)) return;
  const auto attempt = CurrentAttempt();
  switch (reply.OPCode) {
    case packet::config::DefaultTTLStatus::kOpcode: {
      packet::config::DefaultTTLStatus status;
      const bool decoded = packet::Deserialization(status, reply.Parameters);
      if (decoded) LOG_DEBUG << "TTL : " << static_cast<int>(status.TTL);
      attempt->ttl.Complete(decoded);
      break;
    }
    case packet::config::kAppKeyStatusOpcode:
      attempt->app_key.Complete(reply.Parameters == std::vector<unsigned char>{0x00, 0x00, 0x00, 0x00});
      break;
    case packet::config::ModelAppStatus::kOpcode:
      attempt->binding.Complete(ModelStatusSucceeded<packet::config::ModelAppStatus>(reply.Parameters));
      break;
    case packet::config::ModelSubscriptionStatus::kOpcode:
      attempt->subscription.Complete(ModelStatusSucceeded<packet::config::ModelSubscriptionStatus>(reply.Parameters));
      break;
    default:
      break;
  }
}

// A configuration message the daemon refused (or that could not be built) fails its step at
// once, instead of leaving the registration to wait for a status that never comes.
void BluetoothMesh::OnConfigurationSendFailed(const std::vector<std::uint8_t>& data) {
  packet::config::ModelRespOPCode request(static_cast<std::uint32_t>(data.size()));
  if (data.empty() || !packet::Deserialization(request, data)) return;
  const auto attempt = CurrentAttempt();
  switch (request.OPCode) {
    case kDefaultTTLSet:
      attempt->ttl.Complete(false);
      break;
    case kAppKeyAdd:
      attempt->app_key.Complete(false);
      break;
    case kModelAppBind:
      attempt->binding.Complete(false);
      break;
    case kModelSubscriptionAdd:
      attempt->subscription.Complete(false);
      break;
    default:
      break;
  }
}
