#include "meshd/node_state.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace sim::meshd {

ModelState* ElementState::FindModel(std::uint32_t id) {
  const auto found = std::find_if(models.begin(), models.end(), [id](const ModelState& model) { return model.id == id; });
  return found == models.end() ? nullptr : &*found;
}

std::string NodeState::ObjectPath() const { return "/org/bluez/mesh/node" + ToHex(uuid); }

ElementState* NodeState::ElementAt(std::uint16_t address) {
  if (address < unicast) return nullptr;
  const auto index = address - unicast;
  const auto found = std::find_if(elements.begin(), elements.end(),
                                  [index](const ElementState& element) { return element.index == index; });
  return found == elements.end() ? nullptr : &*found;
}

const ElementState* NodeState::ElementAt(std::uint16_t address) const {
  return const_cast<NodeState*>(this)->ElementAt(address);
}

const ElementState* NodeState::ElementByPath(const std::string& path) const {
  const auto found = std::find_if(elements.begin(), elements.end(),
                                  [&path](const ElementState& element) { return element.path == path; });
  return found == elements.end() ? nullptr : &*found;
}

bool NodeState::IsLocal(std::uint16_t address) const {
  return address >= unicast && address < unicast + std::max<std::size_t>(elements.size(), 1);
}

std::optional<Bytes> NodeState::RemoteDeviceKey(std::uint16_t address) const {
  const auto found = key_ring.find(address);
  if (found == key_ring.end()) return std::nullopt;
  return found->second;
}

std::string ToHex(const Bytes& bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  char pair[3];
  for (const auto byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

void PutLe16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

Bytes FromHex(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument("not a hex string: " + text);
    digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits: " + text);
  Bytes bytes;
  for (std::size_t at = 0; at < digits.size(); at += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

namespace {

nlohmann::json ModelToJson(const ModelState& model) {
  return {{"id", model.id},
          {"subscribe_enabled", model.subscribe_enabled},
          {"publish_enabled", model.publish_enabled},
          {"bindings", model.bindings},
          {"subscriptions", model.subscriptions}};
}

ModelState ModelFromJson(const nlohmann::json& json) {
  ModelState model;
  model.id = json.at("id").get<std::uint32_t>();
  model.subscribe_enabled = json.value("subscribe_enabled", true);
  model.publish_enabled = json.value("publish_enabled", true);
  model.bindings = json.value("bindings", std::vector<std::uint16_t>{});
  model.subscriptions = json.value("subscriptions", std::vector<std::uint16_t>{});
  return model;
}

}  // namespace

nlohmann::json ToJson(const NodeState& node) {
  nlohmann::json elements = nlohmann::json::array();
  for (const auto& element : node.elements) {
    nlohmann::json models = nlohmann::json::array();
    for (const auto& model : element.models) models.push_back(ModelToJson(model));
    elements.push_back({{"index", element.index}, {"path", element.path}, {"location", element.location}, {"models", models}});
  }
  nlohmann::json app_keys = nlohmann::json::array();
  for (const auto& [index, key] : node.app_keys) {
    app_keys.push_back({{"index", index}, {"net_index", key.net_index}, {"key", ToHex(key.key)}});
  }
  nlohmann::json key_ring = nlohmann::json::array();
  for (const auto& [address, key] : node.key_ring) key_ring.push_back({{"unicast", address}, {"key", ToHex(key)}});
  return {{"token", node.token},
          {"uuid", ToHex(node.uuid)},
          {"unicast", node.unicast},
          {"device_key", ToHex(node.device_key)},
          {"net_key", ToHex(node.net_key)},
          {"net_index", node.net_index},
          {"iv_index", node.iv_index},
          {"iv_update", node.iv_update},
          {"key_refresh", node.key_refresh},
          {"default_ttl", node.default_ttl},
          {"app_root", node.app_root},
          {"company_id", node.company_id},
          {"product_id", node.product_id},
          {"version_id", node.version_id},
          {"crpl", node.crpl},
          {"elements", elements},
          {"app_keys", app_keys},
          {"key_ring", key_ring}};
}

NodeState NodeFromJson(const nlohmann::json& json) {
  NodeState node;
  node.token = json.at("token").get<std::uint64_t>();
  node.uuid = FromHex(json.at("uuid").get<std::string>());
  node.unicast = json.at("unicast").get<std::uint16_t>();
  node.device_key = FromHex(json.at("device_key").get<std::string>());
  node.net_key = FromHex(json.at("net_key").get<std::string>());
  node.net_index = json.value("net_index", std::uint16_t{0});
  node.iv_index = json.value("iv_index", std::uint32_t{0});
  node.iv_update = json.value("iv_update", false);
  node.key_refresh = json.value("key_refresh", false);
  node.default_ttl = json.value("default_ttl", std::uint8_t{0x7F});
  node.app_root = json.value("app_root", std::string{});
  node.company_id = json.value("company_id", std::uint16_t{0});
  node.product_id = json.value("product_id", std::uint16_t{0});
  node.version_id = json.value("version_id", std::uint16_t{0});
  node.crpl = json.value("crpl", std::uint16_t{0});
  for (const auto& element_json : json.value("elements", nlohmann::json::array())) {
    ElementState element;
    element.index = element_json.at("index").get<std::uint8_t>();
    element.path = element_json.value("path", std::string{});
    element.location = element_json.value("location", std::uint16_t{0});
    for (const auto& model_json : element_json.value("models", nlohmann::json::array())) {
      element.models.push_back(ModelFromJson(model_json));
    }
    node.elements.push_back(std::move(element));
  }
  for (const auto& key_json : json.value("app_keys", nlohmann::json::array())) {
    node.app_keys[key_json.at("index").get<std::uint16_t>()] =
        AppKey{key_json.at("net_index").get<std::uint16_t>(), FromHex(key_json.at("key").get<std::string>())};
  }
  for (const auto& key_json : json.value("key_ring", nlohmann::json::array())) {
    node.key_ring[key_json.at("unicast").get<std::uint16_t>()] = FromHex(key_json.at("key").get<std::string>());
  }
  return node;
}

}  // namespace sim::meshd
