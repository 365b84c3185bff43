#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim::meshd {

using Bytes = std::vector<std::uint8_t>;

// Model ids as the mesh daemon keeps them: company id in the high 16 bits, 0xFFFF for the
// models the Bluetooth SIG defines.
constexpr std::uint16_t kSigCompany = 0xFFFF;
constexpr std::uint32_t ModelKey(std::uint16_t company, std::uint16_t model) {
  return (static_cast<std::uint32_t>(company) << 16) | model;
}
constexpr std::uint32_t SigModel(std::uint16_t model) { return ModelKey(kSigCompany, model); }
constexpr bool IsVendorModel(std::uint32_t key) { return (key >> 16) != kSigCompany; }
constexpr std::uint32_t kConfigServerModel = SigModel(0x0000);
constexpr std::uint32_t kConfigClientModel = SigModel(0x0001);

constexpr bool IsUnicast(std::uint32_t address) { return address >= 0x0001 && address <= 0x7FFF; }
constexpr bool IsGroup(std::uint32_t address) {
  return (address >= 0xC000 && address <= 0xFEFF) || address == 0xFFFF;
}

// One model of an element, with the configuration its node's configuration server keeps.
struct ModelState {
  std::uint32_t id = 0;
  bool subscribe_enabled = true;  // the application's "Subscribe" option (default true)
  bool publish_enabled = true;
  std::vector<std::uint16_t> bindings;       // application key indexes, in the order bound
  std::vector<std::uint16_t> subscriptions;  // group addresses, in the order added
};

struct ElementState {
  std::uint8_t index = 0;
  std::string path;  // the application's element object
  std::uint16_t location = 0;
  std::vector<ModelState> models;

  ModelState* FindModel(std::uint32_t id);
};

struct AppKey {
  std::uint16_t net_index = 0;
  Bytes key;
};

// A local node: what the daemon stores for it (token, identity, keys, configuration and the
// key ring of remote device keys), kept across restarts.
struct NodeState {
  std::uint64_t token = 0;
  Bytes uuid;
  std::uint16_t unicast = 0;
  Bytes device_key;
  Bytes net_key;
  std::uint16_t net_index = 0;
  std::uint32_t iv_index = 0;
  bool iv_update = false;
  bool key_refresh = false;
  std::uint8_t default_ttl = 0x7F;
  std::string app_root;
  std::uint16_t company_id = 0, product_id = 0, version_id = 0, crpl = 0;
  std::vector<ElementState> elements;
  std::map<std::uint16_t, AppKey> app_keys;
  std::map<std::uint16_t, Bytes> key_ring;  // remote device keys by unicast address

  // "/org/bluez/mesh/node" followed by the UUID in lower-case hex, as the daemon names it.
  std::string ObjectPath() const;
  // The element that owns `address`, or null.
  ElementState* ElementAt(std::uint16_t address);
  const ElementState* ElementAt(std::uint16_t address) const;
  const ElementState* ElementByPath(const std::string& path) const;
  // One of the node's own addresses: its unicast and those of its further elements.
  bool IsLocal(std::uint16_t address) const;
  std::optional<Bytes> RemoteDeviceKey(std::uint16_t address) const;
};

std::string ToHex(const Bytes& bytes);
void PutLe16(Bytes& out, std::uint16_t value);  // appends `value` little-endian
Bytes FromHex(const std::string& text);  // throws std::invalid_argument

nlohmann::json ToJson(const NodeState& node);
NodeState NodeFromJson(const nlohmann::json& json);

}  // namespace sim::meshd
