#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "meshd/daemon_calls.h"

namespace sim::meshd {

// The longest access message Send and DevKeySend take.
constexpr std::size_t kMaxMessageLength = 380;

// The daemon's error replies: "org.bluez.mesh.Error.<name>" and its default text unless the
// call site gives its own.
sdbus::Error MeshError(const std::string& name, const std::string& text = {});

// An error reply as the record shows it: {"name","message"}.
nlohmann::json ErrorJson(const sdbus::Error& error);

// Options of a call as the record shows them: booleans and numbers as such, other values by type.
nlohmann::json OptionsJson(const Options& options);

// Send options the daemon accepts: "ForceSegmented" (boolean) and "Vendor" (uint16).
bool ValidSendOptions(const Options& options);

// Group addresses as the daemon puts them in a model's "Subscriptions": an array of variants.
sdbus::Variant GroupsVariant(const std::vector<std::uint16_t>& groups);

}  // namespace sim::meshd
