#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "network1_proxy.h"

namespace org::bluez::mesh {

// The configuration Attach returns: per element index, its models and their settings.
using ModelConfiguration = std::map<std::string, sdbus::Variant>;
using NodeConfiguration =
    std::vector<sdbus::Struct<std::uint8_t, std::vector<sdbus::Struct<std::uint16_t, ModelConfiguration>>>>;

// The mesh daemon's network object.
class Network1 : public sdbus::ProxyInterfaces<Network1_proxy> {
 public:
  using ImportReply = std::function<void(const sdbus::Error*)>;
  using AttachReply = std::function<void(const sdbus::Error*, const sdbus::ObjectPath&, const NodeConfiguration&)>;

  explicit Network1(sdbus::IConnection& connection);
  ~Network1();
  Network1(const Network1&) = delete;
  Network1& operator=(const Network1&) = delete;

  void ImportAsync(const sdbus::ObjectPath& app_root, const std::vector<std::uint8_t>& uuid,
                   const std::vector<std::uint8_t>& dev_key, const std::vector<std::uint8_t>& net_key,
                   std::uint16_t net_index, const std::map<std::string, sdbus::Variant>& flags, std::uint32_t iv_index,
                   std::uint16_t unicast, ImportReply on_reply);
  void AttachAsync(const sdbus::ObjectPath& app_root, std::uint64_t token, AttachReply on_reply);
  // The synchronous Attach, bounded by `timeout`; throws sdbus::Error.
  std::pair<sdbus::ObjectPath, NodeConfiguration> AttachWithin(const sdbus::ObjectPath& app_root, std::uint64_t token,
                                                               std::chrono::milliseconds timeout);
};

}  // namespace org::bluez::mesh
