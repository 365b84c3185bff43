#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "meshd/node_state.h"

namespace sim::meshd {

// Access-layer opcodes: one byte below 0x7F, two bytes 0x80.., three bytes 0xC0.. (most
// significant byte first). Returns the opcode and its length, or nothing (0x7F, short data).
std::optional<std::pair<std::uint32_t, std::size_t>> ParseOpcode(const Bytes& message);
Bytes EncodeOpcode(std::uint32_t opcode);

// A request the configuration server refuses: it changes nothing and its status reply carries
// `status`; without a status (or for Default TTL, whose status has none) it goes unanswered.
struct ConfigRefusal {
  std::uint32_t opcode = 0;
  std::optional<std::uint8_t> status;
};

// Scripted misbehaviour of the configuration server.
struct ConfigFaults {
  bool silent = false;                        // consumes every request, answers none
  std::optional<std::uint8_t> appkey_status;  // AppKey Add answered with this status, key not stored
  bool short_app_status = false;              // Model App Status one byte short
  std::optional<ConfigRefusal> refuse;        // every request with this opcode refused
};

// A change of an application model's configuration that the daemon reports to the element
// with UpdateModelConfiguration: "Bindings" or "Subscriptions" and the model's whole list.
struct ModelUpdate {
  std::uint8_t element_index = 0;
  std::uint32_t model_id = 0;
  std::string key;
  std::vector<std::uint16_t> values;
};

struct ConfigOutcome {
  // False: not a configuration server message; the daemon hands it to the element's models.
  bool consumed = false;
  std::vector<ModelUpdate> updates;  // sent before the reply
  Bytes reply;                       // empty: no answer
};

// The node's own Configuration Server as the mesh daemon implements it, for the requests an
// application sends itself through DevKeySend: Default TTL Get/Set, AppKey Add/Get, Model App
// Bind and SIG/Vendor Model App Get, Model Subscription Add and SIG/Vendor Model Subscription
// Get. A request of a wrong length is consumed without an answer, as the daemon does.
ConfigOutcome HandleConfigRequest(NodeState& node, const Bytes& message, const ConfigFaults& faults = {});

}  // namespace sim::meshd
