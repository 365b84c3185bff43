#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>


#include "provisioner1_adaptor.h"

// The provisioner interface on the application path. The gateway starts no scan and
// provisions no node, so it only logs what the daemon tells it.
class MeshProvisioner
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Provisioner1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  explicit MeshProvisioner(sdbus::IConnection& connection);
  virtual ~MeshProvisioner();
  MeshProvisioner(const MeshProvisioner&) = delete;
  MeshProvisioner& operator=(const MeshProvisioner&) = delete;

 private:
  void ScanResult(const std::uint16_t& rssi, const std::vector<std::uint8_t>& data,
                  const std::map<std::string, sdbus::Variant>& options) override;
  std::tuple<std::uint16_t, std::uint16_t> RequestProvData(const std::uint8_t& count) override;
  void AddNodeComplete(const std::vector<std::uint8_t>& uuid, const std::uint16_t& unicast,
                       const std::uint8_t& count) override;
  void AddNodeFailed(const std::vector<std::uint8_t>& uuid, const std::string& reason) override;

};
