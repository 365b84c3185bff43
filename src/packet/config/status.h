#pragma once

// Configuration status replies, decoded from the parameters after their opcode.

#include <cstdint>

#include "packet/byte_reader.h"

namespace packet::config {

class DefaultTTLStatus {
 public:
  static constexpr std::uint32_t kOpcode = 0x800E;
  virtual ~DefaultTTLStatus() = default;
  virtual void Deserialize(ByteReader& reader);

  std::uint8_t TTL = 0;
};

// Status, element, a second address-like field, company and model: the layout shared by the
// Model App Status and Model Subscription Status replies (9 bytes).
class ModelStatus {
 public:
  static constexpr std::size_t kLength = 9;
  virtual ~ModelStatus() = default;
  virtual void Deserialize(ByteReader& reader);

  std::uint8_t Status = 0;
  std::uint16_t ElementAddress = 0;
  std::uint16_t CompanyID = 0;
  std::uint16_t ModelID = 0;

 protected:
  std::uint16_t second_ = 0;
};

class ModelAppStatus : public ModelStatus {
 public:
  static constexpr std::uint32_t kOpcode = 0x803E;
  std::uint16_t AppKeyIndex() const { return second_; }
};

class ModelSubscriptionStatus : public ModelStatus {
 public:
  static constexpr std::uint32_t kOpcode = 0x801F;
  std::uint16_t Address() const { return second_; }
};

// The AppKey Status reply has no class: its parameters are compared with these bytes.
inline constexpr std::uint32_t kAppKeyStatusOpcode = 0x8003;

}  // namespace packet::config
