#pragma once

#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "mesh/bluetooth_mesh.h"
#include "nvram/nvram.h"
#include "mesh_doubles.h"
#include "platform_fixture.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/private_dbus.h"

namespace mesh_test {

// The gateway's stored mesh settings in these tests.
inline constexpr std::uint16_t kNetAddr = 0x0001;
inline constexpr std::uint16_t kGroupAddr = 0xCA01;
inline constexpr std::uint16_t kTTL = 5;
inline constexpr const char* kDeviceId = "0a1b2c3d4e5f";
std::vector<std::uint8_t> Key(std::uint8_t fill);

// A private system bus, the configuration store on the bus stand-ins holding the gateway's
// mesh keys and addresses, and a log capture; the mesh component is made on demand.
class MeshFixture {
 public:
  MeshFixture();

  std::unique_ptr<BluetoothMesh> MakeMesh(std::chrono::milliseconds answer_timeout = std::chrono::seconds(5),
                                          MeshOptions options = {},
                                          std::shared_ptr<mailbox::DepeschePoster> application = nullptr,
                                          CloudClient* cloud = nullptr, FirmwareSource* firmware = nullptr);
  // A client connection on the private bus, and the unique bus name of the gateway's
  // connection (the one other than `client`'s and `others`').
  std::unique_ptr<sdbus::IConnection> Connect() const;
  static std::string GatewayName(sdbus::IConnection& client, const std::vector<std::string>& others = {});
  std::string StoredMeshOption(const std::string& option) const;

  testing_support::LogCapture log_;
  testing_support::PrivateDBus bus_;
  sim_ubus_test::PlatformFixture platform_;
  NVRAM store_{platform_.Socket()};
  SilentCloud silent_cloud_;
  NoFirmware no_firmware_;
};

}  // namespace mesh_test
