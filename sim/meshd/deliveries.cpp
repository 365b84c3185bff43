#include "meshd/deliveries.h"

#include <algorithm>

#include "meshd/call_checks.h"

namespace sim::meshd {

void AddElementDelivery(const ElementState& element, const std::string& owner, Delivery delivery,
                        std::vector<Delivery>& out) {
  delivery.owner = owner;
  delivery.element_path = element.path;
  out.push_back(std::move(delivery));
}

void AddAppKeyDeliveries(const NodeState& node, const std::string& owner, std::uint16_t source,
                         std::uint16_t destination, std::uint16_t key_index, const Bytes& data,
                         std::vector<Delivery>& out) {
  Delivery delivery;
  delivery.member = "MessageReceived";
  delivery.source = source;
  delivery.destination = destination;
  delivery.index = key_index;
  delivery.data = data;
  for (const auto& element : node.elements) {
    const bool addressed_unicast = destination == node.unicast + element.index;
    const bool fixed_group = destination >= 0xFF00 && element.index == 0;
    const bool accepts = std::any_of(element.models.begin(), element.models.end(), [&](const ModelState& model) {
      const bool bound = std::find(model.bindings.begin(), model.bindings.end(), key_index) != model.bindings.end();
      const bool subscribed =
          std::find(model.subscriptions.begin(), model.subscriptions.end(), destination) != model.subscriptions.end();
      return bound && (addressed_unicast || fixed_group || subscribed);
    });
    if (accepts) AddElementDelivery(element, owner, delivery, out);
  }
}

Delivery ConfigurationDelivery(const ModelUpdate& update) {
  Delivery delivery;
  delivery.member = "UpdateModelConfiguration";
  delivery.index = static_cast<std::uint16_t>(update.model_id & 0xFFFF);
  if (IsVendorModel(update.model_id)) delivery.vendor = static_cast<std::uint16_t>(update.model_id >> 16);
  delivery.config_key = update.key;
  delivery.config_values = update.values;
  return delivery;
}

nlohmann::json DeliveryRecord(const Delivery& delivery) {
  nlohmann::json record{{"kind", "delivered"}, {"member", delivery.member}, {"path", delivery.element_path}};
  if (delivery.member == "UpdateModelConfiguration") {
    record["model_id"] = delivery.index;
    if (delivery.vendor) record["vendor"] = *delivery.vendor;
    record[delivery.config_key] = delivery.config_values;
  } else {
    record["source"] = delivery.source;
    record["data"] = ToHex(delivery.data);
    if (delivery.member == "MessageReceived") {
      record["key_index"] = delivery.index;
      record["destination"] = delivery.destination;
    } else {
      record["remote"] = delivery.remote;
      record["net_index"] = delivery.index;
    }
  }
  return record;
}

void CallApplication(const AppPeer& peer, const Delivery& delivery) {
  if (delivery.member == "MessageReceived") {
    peer.MessageReceived(delivery.element_path, delivery.source, delivery.index, sdbus::Variant(delivery.destination),
                         delivery.data);
  } else if (delivery.member == "DevKeyMessageReceived") {
    peer.DevKeyMessageReceived(delivery.element_path, delivery.source, delivery.remote, delivery.index, delivery.data);
  } else {
    Options config;
    if (delivery.vendor) config["Vendor"] = sdbus::Variant(*delivery.vendor);
    if (delivery.config_key == "Subscriptions") {
      config["Subscriptions"] = GroupsVariant(delivery.config_values);
    } else {
      config[delivery.config_key] = sdbus::Variant(delivery.config_values);
    }
    peer.UpdateModelConfiguration(delivery.element_path, delivery.index, config);
  }
}

}  // namespace sim::meshd
