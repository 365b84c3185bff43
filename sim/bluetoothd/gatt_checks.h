#pragma once

#include <map>
#include <optional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

namespace sim::bluetoothd {

using Properties = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

// What bluetoothd found of a GATT application: the characteristics by UUID.
struct GattTree {
  std::string service_path;
  std::string service_uuid;
  std::map<std::string, std::string> characteristics;  // UUID -> object path
  std::map<std::string, std::vector<std::string>> flags;  // object path -> flags
};

// Reads an application's objects as bluetoothd does on RegisterApplication: at least one
// service with a UUID; every characteristic with a UUID, a known service path and valid
// flags. The error message bluetoothd replies with when it refuses the tree.
struct GattCheck {
  std::optional<GattTree> tree;
  std::string error;
};
GattCheck CheckApplication(const ManagedObjects& objects);

// Reads an advertisement's properties as bluetoothd does on RegisterAdvertisement; the
// reason it is refused, or nothing.
std::optional<std::string> CheckAdvertisement(const Properties& properties);

}  // namespace sim::bluetoothd
