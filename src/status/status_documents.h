#pragma once

// Pure functions from the components' snapshots to the JSON documents of the operator's
// bus object; nothing here touches the bus or a lock.

#include <nlohmann/json.hpp>

namespace status {

}  // namespace status
