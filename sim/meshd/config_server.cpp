#include "meshd/config_server.h"

#include <algorithm>

#include "meshd/config_opcodes.h"

namespace sim::meshd {

namespace {


constexpr std::uint8_t kSuccess = 0x00;
constexpr std::uint8_t kInvalidAddress = 0x01;
constexpr std::uint8_t kInvalidModel = 0x02;
constexpr std::uint8_t kInvalidAppKey = 0x03;
constexpr std::uint8_t kInvalidNetKey = 0x04;
constexpr std::uint8_t kInsufficientResources = 0x05;
constexpr std::uint8_t kKeyIndexAlreadyStored = 0x06;
constexpr std::uint8_t kNotSubscribeModel = 0x08;

constexpr std::size_t kMaxBindings = 10;
constexpr std::size_t kMaxSubscriptions = 10;
constexpr std::size_t kMaxAppKeys = 8;
constexpr std::uint8_t kTtlMask = 0x7F;

std::uint16_t Le16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }

// The model id of a request: company then model for a vendor model, the model alone else.
std::uint32_t RequestModelId(bool vendor, const std::uint8_t* bytes) {
  return vendor ? ModelKey(Le16(bytes), Le16(bytes + 2)) : SigModel(Le16(bytes));
}

// Application key indexes packed two to three bytes, a lone last one in two.
void PutPackedIndexes(Bytes& out, const std::vector<std::uint16_t>& indexes) {
  std::size_t at = 0;
  for (; at + 1 < indexes.size(); at += 2) {
    const std::uint32_t pair = (static_cast<std::uint32_t>(indexes[at]) << 12) | indexes[at + 1];
    out.push_back(static_cast<std::uint8_t>(pair & 0xFF));
    out.push_back(static_cast<std::uint8_t>((pair >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((pair >> 16) & 0xFF));
  }
  if (at < indexes.size()) PutLe16(out, indexes[at]);
}

Bytes Reply(std::uint32_t opcode) { return EncodeOpcode(opcode); }

// The model a configuration request names, with the status the daemon gives when it is absent.
ModelState* FindTarget(NodeState& node, std::uint16_t element_address, std::uint32_t id, std::uint8_t& status,
                       std::uint8_t* element_index = nullptr) {
  ElementState* element = node.ElementAt(element_address);
  if (element == nullptr) {
    status = kInvalidAddress;
    return nullptr;
  }
  if (element_index != nullptr) *element_index = element->index;
  ModelState* model = element->FindModel(id);
  status = model == nullptr ? kInvalidModel : kSuccess;
  return model;
}

bool IsInternal(std::uint32_t id) { return id == kConfigServerModel; }

ConfigOutcome DefaultTtl(NodeState& node, std::uint32_t opcode, const Bytes& parameters) {
  ConfigOutcome outcome{true, {}, {}};
  if (opcode == kDefaultTtlSet) {
    if (parameters.size() != 1 || parameters[0] > kTtlMask || parameters[0] == 1) return outcome;
    node.default_ttl = parameters[0];
  } else if (!parameters.empty()) {
    return outcome;
  }
  outcome.reply = Reply(kDefaultTtlStatus);
  outcome.reply.push_back(node.default_ttl);
  return outcome;
}

ConfigOutcome AppKeyAdd(NodeState& node, const Bytes& parameters, const ConfigFaults& faults) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != 19) return outcome;
  const std::uint16_t net_index = Le16(parameters.data()) & 0x0FFF;
  const std::uint16_t app_index = Le16(parameters.data() + 1) >> 4;
  const Bytes key(parameters.begin() + 3, parameters.end());
  std::uint8_t status = kSuccess;
  if (faults.appkey_status) {
    status = *faults.appkey_status;
  } else if (const auto found = node.app_keys.find(app_index); found != node.app_keys.end()) {
    if (found->second.net_index != net_index) {
      status = kInvalidNetKey;
    } else if (found->second.key != key) {
      status = kKeyIndexAlreadyStored;
    }
  } else if (net_index != node.net_index) {
    status = kInvalidNetKey;
  } else if (node.app_keys.size() >= kMaxAppKeys) {
    status = kInsufficientResources;
  } else {
    node.app_keys[app_index] = AppKey{net_index, key};
  }
  outcome.reply = Reply(kAppKeyStatus);
  outcome.reply.push_back(status);
  outcome.reply.insert(outcome.reply.end(), parameters.begin(), parameters.begin() + 3);
  return outcome;
}

ConfigOutcome AppKeyGet(const NodeState& node, const Bytes& parameters) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != 2) return outcome;
  const std::uint16_t net_index = Le16(parameters.data());
  outcome.reply = Reply(kAppKeyList);
  outcome.reply.push_back(net_index == node.net_index ? kSuccess : kInvalidNetKey);
  PutLe16(outcome.reply, net_index);
  if (net_index == node.net_index) {
    std::vector<std::uint16_t> indexes;
    for (const auto& [index, key] : node.app_keys) {
      if (key.net_index == net_index) indexes.push_back(index);
    }
    PutPackedIndexes(outcome.reply, indexes);
  }
  return outcome;
}

ConfigOutcome ModelAppBind(NodeState& node, const Bytes& parameters, const ConfigFaults& faults) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != 6 && parameters.size() != 8) return outcome;
  const std::uint16_t app_index = Le16(parameters.data() + 2);
  if (app_index > 0x0FFF) return outcome;
  const std::uint32_t id = RequestModelId(parameters.size() == 8, parameters.data() + 4);
  std::uint8_t status = kSuccess;
  std::uint8_t element_index = 0;
  ModelState* model = FindTarget(node, Le16(parameters.data()), id, status, &element_index);
  if (model != nullptr) {
    const bool bound = std::find(model->bindings.begin(), model->bindings.end(), app_index) != model->bindings.end();
    if (id == kConfigServerModel || id == kConfigClientModel) {
      status = kInvalidModel;
    } else if (node.app_keys.count(app_index) == 0) {
      status = kInvalidAppKey;
    } else if (!bound && model->bindings.size() >= kMaxBindings) {
      status = kInsufficientResources;
    } else if (!bound) {
      model->bindings.push_back(app_index);
      outcome.updates.push_back({element_index, id, "Bindings", model->bindings});
    }
  }
  outcome.reply = Reply(kModelAppStatus);
  outcome.reply.push_back(status);
  outcome.reply.insert(outcome.reply.end(), parameters.begin(), parameters.end());
  if (faults.short_app_status) outcome.reply.pop_back();
  return outcome;
}

ConfigOutcome ModelAppGet(NodeState& node, const Bytes& parameters, bool vendor) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != (vendor ? 6u : 4u)) return outcome;
  std::uint8_t status = kSuccess;
  ModelState* model = FindTarget(node, Le16(parameters.data()), RequestModelId(vendor, parameters.data() + 2), status);
  outcome.reply = Reply(vendor ? kVendorModelAppList : kModelAppList);
  outcome.reply.push_back(status);
  outcome.reply.insert(outcome.reply.end(), parameters.begin(), parameters.end());
  if (model != nullptr) PutPackedIndexes(outcome.reply, model->bindings);
  return outcome;
}

ConfigOutcome ModelSubscriptionAdd(NodeState& node, const Bytes& parameters) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != 6 && parameters.size() != 8) return outcome;
  const std::uint16_t address = Le16(parameters.data() + 2);
  if (!IsGroup(address)) return outcome;
  const std::uint32_t id = RequestModelId(parameters.size() == 8, parameters.data() + 4);
  std::uint8_t status = kSuccess;
  std::uint8_t element_index = 0;
  ModelState* model = FindTarget(node, Le16(parameters.data()), id, status, &element_index);
  if (model != nullptr) {
    const bool present =
        std::find(model->subscriptions.begin(), model->subscriptions.end(), address) != model->subscriptions.end();
    if (!model->subscribe_enabled || IsInternal(id)) {
      status = kNotSubscribeModel;
    } else if (!present && model->subscriptions.size() >= kMaxSubscriptions) {
      status = kInsufficientResources;
    } else if (!present) {
      model->subscriptions.push_back(address);
      outcome.updates.push_back({element_index, id, "Subscriptions", model->subscriptions});
    }
  }
  outcome.reply = Reply(kModelSubscriptionStatus);
  outcome.reply.push_back(status);
  outcome.reply.insert(outcome.reply.end(), parameters.begin(), parameters.end());
  return outcome;
}

ConfigOutcome ModelSubscriptionGet(NodeState& node, const Bytes& parameters, bool vendor) {
  ConfigOutcome outcome{true, {}, {}};
  if (parameters.size() != (vendor ? 6u : 4u)) return outcome;
  std::uint8_t status = kSuccess;
  ModelState* model = FindTarget(node, Le16(parameters.data()), RequestModelId(vendor, parameters.data() + 2), status);
  if (model != nullptr && !model->subscribe_enabled) status = kNotSubscribeModel;
  outcome.reply = Reply(vendor ? kVendorModelSubscriptionList : kModelSubscriptionList);
  outcome.reply.push_back(status);
  outcome.reply.insert(outcome.reply.end(), parameters.begin(), parameters.end());
  if (status == kSuccess) {
    for (const auto address : model->subscriptions) PutLe16(outcome.reply, address);
  }
  return outcome;
}

// The status byte follows the reply's opcode; Default TTL Status has none, so a refused TTL
// request goes unanswered.
void Refuse(ConfigOutcome& outcome, const ConfigRefusal& refusal) {
  outcome.updates.clear();
  const auto reply_opcode = ParseOpcode(outcome.reply);
  if (!reply_opcode || !refusal.status || reply_opcode->first == kDefaultTtlStatus) {
    outcome.reply.clear();
    return;
  }
  if (outcome.reply.size() > reply_opcode->second) outcome.reply[reply_opcode->second] = *refusal.status;
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::size_t>> ParseOpcode(const Bytes& message) {
  if (message.empty()) return std::nullopt;
  const std::uint8_t first = message[0];
  if (first == 0x7F) return std::nullopt;
  if (first < 0x7F) return std::make_pair(std::uint32_t{first}, std::size_t{1});
  if ((first & 0xC0) == 0x80) {
    if (message.size() < 2) return std::nullopt;
    return std::make_pair((std::uint32_t{first} << 8) | message[1], std::size_t{2});
  }
  if (message.size() < 3) return std::nullopt;
  return std::make_pair((std::uint32_t{first} << 16) | (std::uint32_t{message[1]} << 8) | message[2], std::size_t{3});
}

Bytes EncodeOpcode(std::uint32_t opcode) {
  if (opcode < 0x7F) return {static_cast<std::uint8_t>(opcode)};
  if (opcode <= 0xFFFF) return {static_cast<std::uint8_t>(opcode >> 8), static_cast<std::uint8_t>(opcode & 0xFF)};
  return {static_cast<std::uint8_t>(opcode >> 16), static_cast<std::uint8_t>((opcode >> 8) & 0xFF),
          static_cast<std::uint8_t>(opcode & 0xFF)};
}

ConfigOutcome HandleConfigRequest(NodeState& node, const Bytes& message, const ConfigFaults& faults) {
  const auto opcode = ParseOpcode(message);
  if (!opcode) return {};
  const Bytes parameters(message.begin() + static_cast<std::ptrdiff_t>(opcode->second), message.end());
  const bool refused = faults.refuse && faults.refuse->opcode == opcode->first;
  // A refused request is served on a copy, so its checks and reply stay those of the server.
  NodeState untouched = refused ? node : NodeState{};
  NodeState& target = refused ? untouched : node;
  ConfigOutcome outcome;
  switch (opcode->first) {
    case kDefaultTtlSet:
    case kDefaultTtlGet:
      outcome = DefaultTtl(target, opcode->first, parameters);
      break;
    case kAppKeyAdd:
      outcome = AppKeyAdd(target, parameters, faults);
      break;
    case kAppKeyGet:
      outcome = AppKeyGet(target, parameters);
      break;
    case kModelAppBind:
      outcome = ModelAppBind(target, parameters, faults);
      break;
    case kModelAppGet:
    case kVendorModelAppGet:
      outcome = ModelAppGet(target, parameters, opcode->first == kVendorModelAppGet);
      break;
    case kModelSubscriptionAdd:
      outcome = ModelSubscriptionAdd(target, parameters);
      break;
    case kModelSubscriptionGet:
    case kVendorModelSubscriptionGet:
      outcome = ModelSubscriptionGet(target, parameters, opcode->first == kVendorModelSubscriptionGet);
      break;
    default:
      return {};
  }
  if (refused) Refuse(outcome, *faults.refuse);
  if (faults.silent) outcome.reply.clear();
  return outcome;
}

}  // namespace sim::meshd
