#include "meshnodes/config_steps.h"

#include "meshd/config_opcodes.h"
#include "meshd/config_server.h"

namespace sim::meshnodes {

using sim::meshd::EncodeOpcode;
using sim::meshd::ParseOpcode;
using sim::meshd::PutLe16;

namespace {

constexpr std::uint16_t kCompanyId = 0x05F1;
constexpr std::uint16_t kVendorModel = 0x0001;

Bytes VendorModelRequest(std::uint32_t opcode, std::uint16_t element, std::uint16_t argument) {
  Bytes request = EncodeOpcode(opcode);
  for (const std::uint16_t value : {element, argument, kCompanyId, kVendorModel}) PutLe16(request, value);
  return request;
}

}  // namespace

std::vector<ConfigStep> SensorConfiguration(std::uint16_t element, const Bytes& app_key) {
  Bytes app_key_add = EncodeOpcode(sim::meshd::kAppKeyAdd);
  app_key_add.insert(app_key_add.end(), {0x00, 0x00, 0x00});  // network key 0, application key 0
  app_key_add.insert(app_key_add.end(), app_key.begin(), app_key.end());
  using namespace sim::meshd;  // the opcodes
  return {{"AppKey Add", app_key_add, kAppKeyStatus},
          {"Model App Bind", VendorModelRequest(kModelAppBind, element, 0), kModelAppStatus},
          {"Model Subscription Add", VendorModelRequest(kModelSubscriptionAdd, element, kSensorGroup),
           kModelSubscriptionStatus}};
}

std::optional<bool> StepOutcome(const ConfigStep& step, const Bytes& reply) {
  const auto opcode = ParseOpcode(reply);
  if (!opcode || opcode->first != step.status_opcode || reply.size() <= opcode->second) return std::nullopt;
  return reply[opcode->second] == 0x00;
}

}  // namespace sim::meshnodes
