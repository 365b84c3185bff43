#include "meshd/app_tree.h"

#include <algorithm>

namespace sim::meshd {

namespace {

constexpr const char* kApplicationInterface = "org.bluez.mesh.Application1";
constexpr const char* kElementInterface = "org.bluez.mesh.Element1";
constexpr const char* kProvisionerInterface = "org.bluez.mesh.Provisioner1";
constexpr const char* kAgentInterface = "org.bluez.mesh.ProvisionAgent1";

using Properties = std::map<std::string, sdbus::Variant>;
using SigModels = std::vector<sdbus::Struct<std::uint16_t, Properties>>;
using VendorModels = std::vector<sdbus::Struct<std::uint16_t, std::uint16_t, Properties>>;

template <typename T>
bool Read(const sdbus::Variant& variant, T& value) {
  if (!variant.containsValueOfType<T>()) return false;
  value = variant.get<T>();
  return true;
}

bool AddModel(ElementState& element, std::uint32_t id, const Properties& options) {
  if (element.FindModel(id) != nullptr) return false;
  ModelState model;
  model.id = id;
  for (const auto& [key, value] : options) {
    bool flag = false;
    if (!Read(value, flag)) return false;
    if (key == "Publish") {
      model.publish_enabled = flag;
    } else if (key == "Subscribe") {
      model.subscribe_enabled = flag;
    } else {
      return false;
    }
  }
  element.models.push_back(std::move(model));
  return true;
}

bool ReadElement(const std::string& path, const Properties& properties, ElementState& element, std::string& problem) {
  element.path = path;
  bool has_index = false, has_models = false, has_vendor_models = false;
  for (const auto& [key, value] : properties) {
    if (key == "Index") {
      has_index = Read(value, element.index);
      if (!has_index) break;
    } else if (key == "Models") {
      SigModels models;
      if (!Read(value, models)) break;
      for (const auto& model : models) {
        const std::uint32_t id = SigModel(model.get<0>());
        if (!AddModel(element, id, model.get<1>())) {
          problem = "bad model " + std::to_string(model.get<0>()) + " in " + path;
          return false;
        }
      }
      has_models = true;
    } else if (key == "VendorModels") {
      VendorModels models;
      if (!Read(value, models)) break;
      for (const auto& model : models) {
        if (!AddModel(element, ModelKey(model.get<0>(), model.get<1>()), model.get<2>())) {
          problem = "bad vendor model in " + path;
          return false;
        }
      }
      has_vendor_models = true;
    } else if (key == "Location") {
      if (!Read(value, element.location)) break;
    }
  }
  if (!has_index || !has_models || !has_vendor_models) {
    problem = "element " + path + " lacks Index, Models or VendorModels";
    return false;
  }
  if (element.index != 0 && element.FindModel(kConfigServerModel) != nullptr) {
    problem = "Configuration Server on secondary element " + path;
    return false;
  }
  std::sort(element.models.begin(), element.models.end(),
            [](const ModelState& a, const ModelState& b) { return a.id < b.id; });
  return true;
}

bool ReadApplication(const Properties& properties, AppComposition& composition) {
  bool has_company = false, has_product = false, has_version = false;
  for (const auto& [key, value] : properties) {
    if (key == "CompanyID") {
      if (!(has_company = Read(value, composition.company_id))) return false;
    } else if (key == "ProductID") {
      if (!(has_product = Read(value, composition.product_id))) return false;
    } else if (key == "VersionID") {
      if (!(has_version = Read(value, composition.version_id))) return false;
    } else if (key == "CRPL") {
      if (!Read(value, composition.crpl)) return false;
    }
  }
  return has_company && has_product && has_version;
}

}  // namespace

bool ReadComposition(const ManagedObjects& objects, AppComposition& composition, std::string& problem) {
  composition = AppComposition{};
  bool has_application = false;
  for (const auto& [path, interfaces] : objects) {
    for (const auto& [interface, properties] : interfaces) {
      if (interface == kElementInterface) {
        ElementState element;
        if (!ReadElement(path, properties, element, problem)) return false;
        const auto same_index = [&element](const ElementState& other) { return other.index == element.index; };
        if (std::any_of(composition.elements.begin(), composition.elements.end(), same_index)) {
          problem = "two elements with index " + std::to_string(element.index);
          return false;
        }
        composition.elements.push_back(std::move(element));
      } else if (interface == kApplicationInterface) {
        if (has_application) {
          problem = "two objects with " + std::string(kApplicationInterface);
          return false;
        }
        if (!ReadApplication(properties, composition)) {
          problem = "application " + std::string(path) + " lacks CompanyID, ProductID or VersionID";
          return false;
        }
        composition.app_path = path;
        has_application = true;
      } else if (interface == kProvisionerInterface) {
        composition.provisioner = true;
      } else if (interface == kAgentInterface) {
        composition.agent = true;
      }
    }
  }
  if (!has_application) {
    problem = "Interface " + std::string(kApplicationInterface) + " not found";
    return false;
  }
  if (composition.elements.empty()) {
    problem = "Interface " + std::string(kElementInterface) + " not found";
    return false;
  }
  std::sort(composition.elements.begin(), composition.elements.end(),
            [](const ElementState& a, const ElementState& b) { return a.index < b.index; });
  if (composition.elements.front().index != 0) {
    problem = "Primary element not detected";
    return false;
  }
  return true;
}

void AdoptComposition(NodeState& node, const AppComposition& composition) {
  std::vector<ElementState> elements = composition.elements;
  for (auto& element : elements) {
    ElementState* previous = node.ElementAt(static_cast<std::uint16_t>(node.unicast + element.index));
    if (previous == nullptr) continue;
    for (auto& model : element.models) {
      if (const ModelState* stored = previous->FindModel(model.id)) {
        model.bindings = stored->bindings;
        model.subscriptions = stored->subscriptions;
      }
    }
  }
  node.elements = std::move(elements);
  node.company_id = composition.company_id;
  node.product_id = composition.product_id;
  node.version_id = composition.version_id;
  node.crpl = composition.crpl;
}

}  // namespace sim::meshd
