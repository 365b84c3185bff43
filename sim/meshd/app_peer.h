#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "meshd/app_tree.h"
#include "meshd/daemon_calls.h"

namespace sim::meshd {

// The daemon's calls to one application (the bus name that called Import or Attach), made on
// the daemon's connection from its worker thread. As the real daemon does, it waits for the
// replies of GetManagedObjects and JoinComplete only; the element's messages go out with
// "no reply expected".
class AppPeer {
 public:
  AppPeer(sdbus::IConnection& connection, std::string owner, std::chrono::milliseconds timeout);

  ManagedObjects GetManagedObjects(const std::string& app_root) const;  // throws sdbus::Error
  void JoinComplete(const std::string& app_path, std::uint64_t token) const;  // throws sdbus::Error
  void JoinFailed(const std::string& app_path, const std::string& reason) const;
  void MessageReceived(const std::string& element_path, std::uint16_t source, std::uint16_t key_index,
                       const sdbus::Variant& destination, const std::vector<std::uint8_t>& data) const;
  void DevKeyMessageReceived(const std::string& element_path, std::uint16_t source, bool remote,
                             std::uint16_t net_index, const std::vector<std::uint8_t>& data) const;
  void UpdateModelConfiguration(const std::string& element_path, std::uint16_t model_id, const Options& config) const;

 private:
  sdbus::IConnection& connection_;
  std::string owner_;
  std::chrono::milliseconds timeout_;
};

}  // namespace sim::meshd
