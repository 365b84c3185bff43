#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace sim::meshd {

using Options = std::map<std::string, sdbus::Variant>;
using AttachConfiguration =
    std::vector<sdbus::Struct<std::uint8_t, std::vector<sdbus::Struct<std::uint16_t, Options>>>>;
using ImportResult = std::shared_ptr<sdbus::Result<>>;
using AttachResult = std::shared_ptr<sdbus::Result<sdbus::ObjectPath, AttachConfiguration>>;

struct ImportRequest {
  std::string app_root;
  std::vector<std::uint8_t> uuid, device_key, net_key;
  std::uint16_t net_index = 0;
  Options flags;
  std::uint32_t iv_index = 0;
  std::uint16_t unicast = 0;
};

struct SendRequest {
  std::string element_path;
  std::uint16_t destination = 0;
  std::uint16_t key_index = 0;  // application key index (Send) or net index (DevKeySend)
  bool remote = false;          // DevKeySend only
  Options options;
  std::vector<std::uint8_t> data;
};

// What the daemon's bus objects hand over; called on the connection's event-loop thread.
// Synchronous ones throw sdbus::Error for an error reply.
class DaemonCalls {
 public:
  virtual void Import(ImportResult result, const std::string& sender, ImportRequest request) = 0;
  virtual void Attach(AttachResult result, const std::string& sender, const std::string& app_root,
                      std::uint64_t token) = 0;
  virtual void Send(std::uint64_t token, const std::string& sender, const SendRequest& request) = 0;
  virtual void DevKeySend(std::uint64_t token, const std::string& sender, const SendRequest& request) = 0;
  virtual void ImportRemoteNode(std::uint64_t token, const std::string& sender, std::uint16_t primary,
                                std::uint8_t count, const std::vector<std::uint8_t>& device_key) = 0;

 protected:
  ~DaemonCalls() = default;
};

}  // namespace sim::meshd
