#include "xgt/fenet/write_request_packet.h"

#include "log/log.h"
#include "xgt/fenet/data_type.h"
#include "xgt/fenet/variable_name.h"

namespace xgt::fenet {

WriteRequestPacket::WriteRequestPacket(std::uint8_t base, std::uint8_t slot, char device, std::uint32_t address,
                                       std::vector<unsigned char> bytes)
    : header_(base, slot), variable_(VariableName(device, DataType::kByte, address)), data_(std::move(bytes)) {
  header_.Length = static_cast<std::uint16_t>(12 + variable_.size() + data_.size());
}

std::vector<unsigned char> WriteRequestPacket::Encode() const {
  if (data_.size() > kMaxDataCount) {
    LOG_ERROR << "write of " << data_.size() << " bytes exceeds " << kMaxDataCount;
    return {};
  }
  packet::ByteWriter writer;
  header_.Encode(writer);
  writer.U16(kCommand);
  writer.U16(static_cast<std::uint16_t>(DataType::kContinuous));
  writer.U16(0);
  writer.U16(1);
  writer.U16(static_cast<std::uint16_t>(variable_.size()));
  writer.Text(variable_);
  writer.U16(static_cast<std::uint16_t>(data_.size()));
  writer.Raw(data_);
  return writer.Take();
}

}  // namespace xgt::fenet
