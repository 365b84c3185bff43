#include "mesh_fixture.h"

#include <algorithm>
#include <regex>

namespace mesh_test {

std::vector<std::uint8_t> Key(std::uint8_t fill) { return std::vector<std::uint8_t>(16, fill); }

MeshFixture::MeshFixture() {
  store_.Init();
  store_.DeviceID(kDeviceId);
  store_.NetAddr(kNetAddr);
  store_.GroupAddr(kGroupAddr);
  store_.TTL(kTTL);
  store_.MeshNetKey(Key(0x11));
  store_.MeshAppKey(Key(0x22));
  store_.MeshDevKey(Key(0x33));
}

std::unique_ptr<BluetoothMesh> MeshFixture::MakeMesh(std::chrono::milliseconds answer_timeout, MeshOptions options,
                                                     std::shared_ptr<mailbox::DepeschePoster> application,
                                                     CloudClient* cloud, FirmwareSource* firmware) {
  options.bus_address = bus_.Address();
  options.answer_timeout = answer_timeout;
  options.rejoin_delay = std::chrono::milliseconds(100);
  const MeshServices services{store_, cloud != nullptr ? *cloud : silent_cloud_,
                              firmware != nullptr ? *firmware : no_firmware_};
  return std::make_unique<BluetoothMesh>(std::move(application), services, options);
}

std::unique_ptr<sdbus::IConnection> MeshFixture::Connect() const {
  return sdbus::createSessionBusConnectionWithAddress(bus_.Address());
}

std::string MeshFixture::GatewayName(sdbus::IConnection& client, const std::vector<std::string>& others) {
  auto bus = sdbus::createProxy(client, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  std::vector<std::string> names;
  bus->callMethod("ListNames").onInterface("org.freedesktop.DBus").storeResultsTo(names);
  std::vector<std::string> candidates;
  for (const std::string& name : names) {
    if (name.front() != ':' || name == client.getUniqueName()) continue;
    if (std::find(others.begin(), others.end(), name) != others.end()) continue;
    candidates.push_back(name);
  }
  return candidates.size() == 1 ? candidates.front() : std::string();
}

std::string MeshFixture::StoredMeshOption(const std::string& option) const {
  const std::string text = platform_.ReadConfig("ferrowick");
  const std::regex line("option " + option + " '([^']*)'");
  std::smatch match;
  return std::regex_search(text, match, line) ? match[1].str() : std::string();
}

}  // namespace mesh_test
