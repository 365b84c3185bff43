#include "mesh/own_configuration.h"

#include <algorithm>

#include "log/log.h"
#include "mesh/mesh_names.h"
#include "mesh/registration_attempt.h"
#include "nvram/mesh_settings.h"
#include "packet/config/model_resp_opcode.h"
#include "packet/config/requests.h"
#include "packet/config/status.h"
#include "packet/serialization.h"

namespace own_configuration {
namespace {

// The application key the gateway adds and binds (on network key 0).
constexpr std::uint16_t kAppKeyIndex = 0;

// A Model App Status or Model Subscription Status: success only with all 9 bytes and status 0.
template <typename Status>
bool ModelStatusSucceeded(const std::vector<unsigned char>& parameters) {
  if (parameters.size() != Status::kLength) return false;
  Status status;
  return packet::Deserialization(status, parameters) && status.Status == 0;
}

template <typename Value>
bool Holds(const org::bluez::mesh::ModelConfiguration& model, const char* key, const Value& wanted) {
  const auto entry = model.find(key);
  if (entry == model.end() || !entry->second.containsValueOfType<std::vector<Value>>()) return false;
  const auto values = entry->second.get<std::vector<Value>>();
  return std::find(values.begin(), values.end(), wanted) != values.end();
}

// Subscriptions are variants: a group address (uint16) or a virtual label (bytes).
bool Subscribed(const org::bluez::mesh::ModelConfiguration& model, std::uint16_t group) {
  const auto entry = model.find("Subscriptions");
  if (entry == model.end() || !entry->second.containsValueOfType<std::vector<sdbus::Variant>>()) return false;
  const auto addresses = entry->second.get<std::vector<sdbus::Variant>>();
  return std::any_of(addresses.begin(), addresses.end(), [group](const sdbus::Variant& address) {
    return address.containsValueOfType<std::uint16_t>() && address.get<std::uint16_t>() == group;
  });
}

// The vendor model of element 0 as Attach reported it, or null: the daemon leaves out a model
// without bindings, subscriptions or publication.
const org::bluez::mesh::ModelConfiguration* VendorModel(const org::bluez::mesh::NodeConfiguration& configuration) {
  for (const auto& element : configuration) {
    if (element.get<0>() != 0) continue;
    for (const auto& model : element.get<1>()) {
      const auto& options = model.get<1>();
      const auto vendor = options.find("Vendor");
      if (model.get<0>() == mesh_names::kVendorModelId && vendor != options.end() &&
          vendor->second.containsValueOfType<std::uint16_t>() &&
          vendor->second.get<std::uint16_t>() == mesh_names::kCompanyId) {
        return &options;
      }
    }
  }
  return nullptr;
}

}  // namespace

Steps Missing(std::uint16_t group, const org::bluez::mesh::NodeConfiguration& configuration) {
  const auto* model = VendorModel(configuration);
  const bool bound = model != nullptr && Holds<std::uint16_t>(*model, "Bindings", kAppKeyIndex);
  const bool subscribed = model != nullptr && Subscribed(*model, group);
  Steps missing;
  missing.app_key = !bound;
  missing.binding = !bound;
  missing.subscription = !subscribed;
  missing.ttl = missing.binding || missing.subscription;
  return missing;
}

std::vector<std::uint8_t> TTLSet(const MeshSettings& settings) {
  // The message carries one byte; the stored TTL is 16-bit and only its low byte goes out.
  return packet::Serialization(packet::config::DefaultTTLSet(static_cast<std::uint8_t>(settings.TTL())));
}

std::vector<std::uint8_t> AppKeySet(const MeshSettings& settings) {
  return packet::Serialization(packet::config::AppKeyAdd({0, 0, 0}, settings.MeshAppKey()));
}

std::vector<std::uint8_t> Binding(const MeshSettings& settings) {
  return packet::Serialization(packet::config::ModelAppBind(settings.NetAddr(), kAppKeyIndex, mesh_names::kCompanyId,
                                                            mesh_names::kVendorModelId, true));
}

std::vector<std::uint8_t> SubscriptionAdd(const MeshSettings& settings) {
  return packet::Serialization(packet::config::ModelSubscriptionAdd(
      settings.NetAddr(), settings.GroupAddr(), mesh_names::kCompanyId, mesh_names::kVendorModelId, true));
}

std::vector<std::uint8_t> TTLGet() { return packet::Serialization(packet::config::DefaultTTLGet()); }

std::vector<std::uint8_t> AppKeyGet() { return packet::Serialization(packet::config::AppKeyGet(0)); }

std::vector<std::uint8_t> BindStatusGet(const MeshSettings& settings) {
  return packet::Serialization(
      packet::config::VendorModelAppGet(settings.NetAddr(), mesh_names::kCompanyId, mesh_names::kVendorModelId));
}

std::vector<std::uint8_t> SubscriptionGet(const MeshSettings& settings) {
  return packet::Serialization(packet::config::VendorModelSubscriptionGet(settings.NetAddr(), mesh_names::kCompanyId,
                                                                          mesh_names::kVendorModelId));
}

void OnReply(RegistrationAttempt& attempt, const std::vector<std::uint8_t>& data) {
  packet::config::ModelRespOPCode reply(static_cast<std::uint32_t>(data.size()));
  if (!packet::Deserialization(reply, data)) return;
  switch (reply.OPCode) {
    case packet::config::DefaultTTLStatus::kOpcode: {
      packet::config::DefaultTTLStatus status;
      const bool decoded = packet::Deserialization(status, reply.Parameters);
      if (decoded) LOG_DEBUG << "TTL : " << static_cast<int>(status.TTL);
      // Not compared with the TTL set, on purpose: any decodable status completes the step.
      attempt.ttl.Complete(decoded);
      break;
    }
    case packet::config::kAppKeyStatusOpcode:
      attempt.app_key.Complete(reply.Parameters == std::vector<unsigned char>{0x00, 0x00, 0x00, 0x00});
      break;
    case packet::config::ModelAppStatus::kOpcode:
      attempt.binding.Complete(ModelStatusSucceeded<packet::config::ModelAppStatus>(reply.Parameters));
      break;
    case packet::config::ModelSubscriptionStatus::kOpcode:
      attempt.subscription.Complete(ModelStatusSucceeded<packet::config::ModelSubscriptionStatus>(reply.Parameters));
      break;
    default:
      break;
  }
}

void OnSendFailed(RegistrationAttempt& attempt, const std::vector<std::uint8_t>& request) {
  packet::config::ModelRespOPCode opcode(static_cast<std::uint32_t>(request.size()));
  if (request.empty() || !packet::Deserialization(opcode, request)) return;
  switch (opcode.OPCode) {
    case packet::config::DefaultTTLSet::kOpcode:
      attempt.ttl.Complete(false);
      break;
    case packet::config::AppKeyAdd::kOpcode:
      attempt.app_key.Complete(false);
      break;
    case packet::config::ModelAppBind::kOpcode:
      attempt.binding.Complete(false);
      break;
    case packet::config::ModelSubscriptionAdd::kOpcode:
      attempt.subscription.Complete(false);
      break;
    default:
      break;
  }
}

}  // namespace own_configuration
