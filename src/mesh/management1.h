#pragma once

#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "management1_proxy.h"

namespace org::bluez::mesh {

// The mesh daemon's key management for the gateway's node, at the path Attach returned.
class Management1 : public sdbus::ProxyInterfaces<Management1_proxy> {
 public:
  Management1(sdbus::IConnection& connection, const std::string& node_path);
  ~Management1();
  Management1(const Management1&) = delete;
  Management1& operator=(const Management1&) = delete;
};

}  // namespace org::bluez::mesh
