#pragma once

namespace own_configuration {

// The configuration steps the gateway's node still needs, run in this order.
struct Steps {
  bool ttl = true;
  bool app_key = true;
  bool binding = true;
  bool subscription = true;

  bool Any() const { return ttl || app_key || binding || subscription; }
};

}  // namespace own_configuration
