#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "packet/byte_reader.h"
#include "packet/byte_writer.h"

namespace xgt::fenet {

// The 20-byte application header of every FEnet frame; `Length` counts the bytes after it.
class Header {
 public:
  static constexpr std::size_t kSize = 20;
  static constexpr std::uint8_t kClientToPlc = 0x33;

  Header() : Header(0, 0) {}
  Header(std::uint8_t base, std::uint8_t slot, const std::string& company_id = "LSIS-XGT",
         std::uint8_t source_of_frame = kClientToPlc);
  virtual ~Header() = default;

  // (base << 4) | (slot & 0x0F)
  static std::uint8_t Position(std::uint8_t base, std::uint8_t slot);

  void Encode(packet::ByteWriter& writer) const;
  void Decode(packet::ByteReader& reader);

  std::string CompanyId() const;  // up to the first zero byte

  std::array<char, 10> CompanyIdBytes{};
  std::uint16_t PlcInfo = 0;
  std::uint8_t CpuInfo = 0;
  std::uint8_t SourceOfFrame = 0;
  std::uint16_t InvokeId = 0;
  std::uint16_t Length = 0;
  std::uint8_t FenetPosition = 0;
  std::uint8_t Checksum = 0;
};

}  // namespace xgt::fenet
