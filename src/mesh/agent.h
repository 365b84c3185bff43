#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>


#include "provision_agent1_adaptor.h"

// The provisioning agent: no keys of its own, and no way to show or ask for a secret.
class MeshAgent
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::ProvisionAgent1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  explicit MeshAgent(sdbus::IConnection& connection);
  virtual ~MeshAgent();
  MeshAgent(const MeshAgent&) = delete;
  MeshAgent& operator=(const MeshAgent&) = delete;

 private:
  std::vector<std::uint8_t> PrivateKey() override { return private_key_; }
  std::vector<std::uint8_t> PublicKey() override { return public_key_; }
  void DisplayString(const std::string& value) override;
  void DisplayNumeric(const std::string& type, const std::uint32_t& number) override;
  std::uint32_t PromptNumeric(const std::string& type) override;
  std::vector<std::uint8_t> PromptStatic(const std::string& type) override;
  void Cancel() override;
  std::vector<std::string> Capabilities() override { return capabilities_; }
  std::vector<std::string> OutOfBandInfo() override { return out_of_band_info_; }

  const std::vector<std::uint8_t> private_key_;
  const std::vector<std::uint8_t> public_key_;
  const std::vector<std::string> capabilities_;
  const std::vector<std::string> out_of_band_info_;
};
