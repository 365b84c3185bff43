#pragma once

#include <array>
#include <cstdint>

#include "packet/byte_reader.h"
#include "packet/byte_writer.h"

namespace packet {

// The gateway's vendor model: company 0x05F1, model 0x0001.
inline constexpr std::uint16_t kCompanyID = 0x05F1;
inline constexpr std::uint16_t kVendorModelID = 0x0001;

using VendorOpcodeBytes = std::array<std::uint8_t, 3>;

// Vendor opcodes as sent: 0xC0 + number, then the company identifier little-endian.
inline constexpr VendorOpcodeBytes kSensorDataGet{0xC0, 0xF1, 0x05};
inline constexpr VendorOpcodeBytes kSensorDataStatus{0xC1, 0xF1, 0x05};
inline constexpr VendorOpcodeBytes kSensorSettingSet{0xC3, 0xF1, 0x05};
inline constexpr VendorOpcodeBytes kSensorSettingStatus{0xC4, 0xF1, 0x05};

// The value dispatch compares: b0·65536 + b2·256 + b1, so C1 F1 05 becomes 0xC105F1.
constexpr std::uint32_t FoldOpcode(const VendorOpcodeBytes& bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 16) | (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[1];
}
inline constexpr std::uint32_t kFoldedSensorDataStatus = FoldOpcode(kSensorDataStatus);
inline constexpr std::uint32_t kFoldedSensorSettingStatus = FoldOpcode(kSensorSettingStatus);

// Three opcode bytes written and read raw, in stored order; base of every vendor message.
class ModelOPCode {
 public:
  explicit ModelOPCode(const VendorOpcodeBytes& opcode = {}) : opcode_(opcode) {}
  virtual ~ModelOPCode() = default;

  const VendorOpcodeBytes& Opcode() const { return opcode_; }
  std::uint32_t Folded() const { return FoldOpcode(opcode_); }

  virtual void Serialize(ByteWriter& writer) const;
  virtual void Deserialize(ByteReader& reader);

 private:
  VendorOpcodeBytes opcode_;
};

}  // namespace packet
