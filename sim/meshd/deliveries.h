#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/app_peer.h"
#include "meshd/config_server.h"
#include "meshd/node_state.h"

namespace sim::meshd {

// A call the daemon makes on an element of an attached application: an access message
// (MessageReceived, DevKeyMessageReceived) or a model's new configuration
// (UpdateModelConfiguration).
struct Delivery {
  std::string owner;  // the attached application's bus name; empty: none attached
  std::string element_path;
  std::string member;
  std::uint16_t source = 0;
  std::uint16_t index = 0;  // key index, net index or model id
  bool remote = false;
  std::uint16_t destination = 0;
  std::optional<std::uint16_t> vendor;  // UpdateModelConfiguration of a vendor model
  std::string config_key;
  std::vector<std::uint16_t> config_values;
  Bytes data;
};

// `delivery` addressed to `element` of a node attached by `owner`.
void AddElementDelivery(const ElementState& element, const std::string& owner, Delivery delivery,
                        std::vector<Delivery>& out);

// An application-key message reaching the node: each element whose models are bound to the
// key and addressed (its unicast address, a group they subscribe to, or a fixed group for the
// primary element) receives it once, as model.c forwards it.
void AddAppKeyDeliveries(const NodeState& node, const std::string& owner, std::uint16_t source,
                         std::uint16_t destination, std::uint16_t key_index, const Bytes& data,
                         std::vector<Delivery>& out);

// A model's new bindings or subscriptions, announced to the element that has the model.
Delivery ConfigurationDelivery(const ModelUpdate& update);

// The record of a delivery ("kind":"delivered"), before its outcome is known.
nlohmann::json DeliveryRecord(const Delivery& delivery);

// Makes the delivery's call on the application; throws sdbus::Error.
void CallApplication(const AppPeer& peer, const Delivery& delivery);

}  // namespace sim::meshd
