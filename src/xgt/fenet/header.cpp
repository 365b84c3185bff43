#include "xgt/fenet/header.h"

#include <algorithm>

namespace xgt::fenet {

Header::Header(std::uint8_t base, std::uint8_t slot, const std::string& company_id, std::uint8_t source_of_frame)
    : SourceOfFrame(source_of_frame), FenetPosition(Position(base, slot)) {
  std::copy_n(company_id.begin(), std::min(company_id.size(), CompanyIdBytes.size()), CompanyIdBytes.begin());
}

std::uint8_t Header::Position(std::uint8_t base, std::uint8_t slot) {
  return static_cast<std::uint8_t>((base << 4) | (slot & 0x0F));
}

void Header::Encode(packet::ByteWriter& writer) const {
  writer.Raw(reinterpret_cast<const unsigned char*>(CompanyIdBytes.data()), CompanyIdBytes.size());
  writer.U16(PlcInfo);
  writer.U8(CpuInfo);
  writer.U8(SourceOfFrame);
  writer.U16(InvokeId);
  writer.U16(Length);
  writer.U8(FenetPosition);
  writer.U8(Checksum);
}

void Header::Decode(packet::ByteReader& reader) {
  reader.Raw(reinterpret_cast<unsigned char*>(CompanyIdBytes.data()), CompanyIdBytes.size());
  PlcInfo = reader.U16();
  CpuInfo = reader.U8();
  SourceOfFrame = reader.U8();
  InvokeId = reader.U16();
  Length = reader.U16();
  FenetPosition = reader.U8();
  Checksum = reader.U8();
}

std::string Header::CompanyId() const {
  const auto end = std::find(CompanyIdBytes.begin(), CompanyIdBytes.end(), '\0');
  return std::string(CompanyIdBytes.begin(), end);
}

}  // namespace xgt::fenet
