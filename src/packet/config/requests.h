#pragma once

// Configuration messages the gateway sends to its own Configuration Server.

#include <array>
#include <cstdint>
#include <vector>

#include "packet/config/model_opcode.h"

namespace packet::config {

class DefaultTTLGet : public ModelOPCode {
 public:
  static constexpr std::uint32_t kOpcode = 0x800C;
  DefaultTTLGet() : ModelOPCode(kOpcode) {}
};

class DefaultTTLSet : public ModelOPCode {
 public:
  static constexpr std::uint32_t kOpcode = 0x800D;
  explicit DefaultTTLSet(std::uint8_t ttl = 0) : ModelOPCode(kOpcode), TTL(ttl) {}
  void Serialize(ByteWriter& writer) const override;

  std::uint8_t TTL;
};

class AppKeyGet : public ModelOPCode {
 public:
  static constexpr std::uint32_t kOpcode = 0x8001;
  explicit AppKeyGet(std::uint16_t net_key_index = 0) : ModelOPCode(kOpcode), NetKeyIndex(net_key_index) {}
  void Serialize(ByteWriter& writer) const override;

  std::uint16_t NetKeyIndex;
};

// The application key must be exactly 16 bytes; any other size refuses to serialise.
class AppKeyAdd : public ModelOPCode {
 public:
  static constexpr std::uint32_t kOpcode = 0x00;
  static constexpr std::size_t kKeySize = 16;

  AppKeyAdd(std::array<std::uint8_t, 3> net_and_app_key_index = {}, std::vector<unsigned char> app_key = {})
      : ModelOPCode(kOpcode), NetKeyIndexAndAppKeyIndex(net_and_app_key_index), AppKey(std::move(app_key)) {}
  void Serialize(ByteWriter& writer) const override;

  std::array<std::uint8_t, 3> NetKeyIndexAndAppKeyIndex;
  std::vector<unsigned char> AppKey;
};

// Base of the requests naming an element and a vendor model.
class VendorModelGet : public ModelOPCode {
 public:
  void Serialize(ByteWriter& writer) const override;

  std::uint16_t ElementAddress;
  std::uint16_t CompanyID;
  std::uint16_t ModelID;

 protected:
  VendorModelGet(std::uint32_t opcode, std::uint16_t element, std::uint16_t company, std::uint16_t model)
      : ModelOPCode(opcode), ElementAddress(element), CompanyID(company), ModelID(model) {}
};

class VendorModelAppGet : public VendorModelGet {
 public:
  static constexpr std::uint32_t kOpcode = 0x804D;
  VendorModelAppGet(std::uint16_t element = 0, std::uint16_t company = 0, std::uint16_t model = 0)
      : VendorModelGet(kOpcode, element, company, model) {}
};

class VendorModelSubscriptionGet : public VendorModelGet {
 public:
  static constexpr std::uint32_t kOpcode = 0x802B;
  VendorModelSubscriptionGet(std::uint16_t element = 0, std::uint16_t company = 0, std::uint16_t model = 0)
      : VendorModelGet(kOpcode, element, company, model) {}
};

// Base of the requests that bind or subscribe a model; CompanyID goes out only for a vendor model.
class ModelBindingRequest : public ModelOPCode {
 public:
  void Serialize(ByteWriter& writer) const override;

 protected:
  ModelBindingRequest(std::uint32_t opcode, std::uint16_t element, std::uint16_t second, std::uint16_t company,
                      std::uint16_t model, bool vendor)
      : ModelOPCode(opcode), element_(element), second_(second), company_(company), model_(model), vendor_(vendor) {}

  std::uint16_t element_;
  std::uint16_t second_;
  std::uint16_t company_;
  std::uint16_t model_;
  bool vendor_;
};

class ModelAppBind : public ModelBindingRequest {
 public:
  static constexpr std::uint32_t kOpcode = 0x803D;
  ModelAppBind(std::uint16_t element = 0, std::uint16_t app_key_index = 0, std::uint16_t company = 0,
               std::uint16_t model = 0, bool vendor = false)
      : ModelBindingRequest(kOpcode, element, app_key_index, company, model, vendor) {}
};

class ModelSubscriptionAdd : public ModelBindingRequest {
 public:
  static constexpr std::uint32_t kOpcode = 0x801B;
  ModelSubscriptionAdd(std::uint16_t element = 0, std::uint16_t address = 0, std::uint16_t company = 0,
                       std::uint16_t model = 0, bool vendor = false)
      : ModelBindingRequest(kOpcode, element, address, company, model, vendor) {}
};

}  // namespace packet::config
