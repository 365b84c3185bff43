#pragma once

#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "meshd/node_state.h"

namespace sim::meshd {

// The reply to org.freedesktop.DBus.ObjectManager.GetManagedObjects.
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>>;

// What an application's object tree tells the daemon: the application object and its
// identity, the elements and their models, whether it is a provisioner.
struct AppComposition {
  std::string app_path;  // the object with org.bluez.mesh.Application1
  std::uint16_t company_id = 0, product_id = 0, version_id = 0, crpl = 0x7FFF;
  std::vector<ElementState> elements;  // sorted by index
  bool provisioner = false;
  bool agent = false;
};

// Reads the tree as the mesh daemon does; false with `problem` set when the daemon would refuse
// it: no or two application objects, missing CompanyID/ProductID/VersionID, an element without
// Index, Models or VendorModels, duplicate element indexes or models, unknown model options,
// no primary element (index 0), the Configuration Server on another element.
bool ReadComposition(const ManagedObjects& objects, AppComposition& composition, std::string& problem);

// Keeps the configuration of the models that are still there; new models start unconfigured.
void AdoptComposition(NodeState& node, const AppComposition& composition);

}  // namespace sim::meshd
