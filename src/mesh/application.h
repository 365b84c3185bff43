#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "application1_adaptor.h"


// The gateway's application object: its identity, and the outcome of joining.
class MeshApplication
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Application1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  using OnComplete = std::function<void(std::uint64_t token)>;
  using OnFailed = std::function<void(const std::string& reason)>;

  MeshApplication(sdbus::IConnection& connection, OnComplete on_complete, OnFailed on_failed,
                  std::uint16_t company_id, std::uint16_t product_id, std::uint16_t version_id, std::uint16_t crpl);
  virtual ~MeshApplication();
  MeshApplication(const MeshApplication&) = delete;
  MeshApplication& operator=(const MeshApplication&) = delete;

 private:
  void JoinComplete(const std::uint64_t& token) override;
  void JoinFailed(const std::string& reason) override;
  std::uint16_t CompanyID() override { return company_id_; }
  std::uint16_t ProductID() override { return product_id_; }
  std::uint16_t VersionID() override { return version_id_; }
  std::uint16_t CRPL() override { return crpl_; }

  const OnComplete on_complete_;
  const OnFailed on_failed_;
  const std::uint16_t company_id_;
  const std::uint16_t product_id_;
  const std::uint16_t version_id_;
  const std::uint16_t crpl_;
};
