#include "xgt/fenet/read_request_packet.h"

#include <algorithm>

#include "xgt/fenet/variable_name.h"

namespace xgt::fenet {

namespace {

// Command, data type, reserved and block count.
constexpr std::uint16_t kFixedFields = 8;

}  // namespace

ReadRequestPacket::ReadRequestPacket(std::uint8_t base, std::uint8_t slot) : header_(base, slot) {
  header_.Length = kFixedFields;
}

ReadRequestPacket::ReadRequestPacket(std::uint8_t base, std::uint8_t slot, char device, DataType type,
                                     std::uint32_t address, std::uint32_t bit)
    : ReadRequestPacket(base, slot) {
  type_ = type;
  AppendVariable(VariableName(device, type, address, bit));
}

ReadRequestPacket::ReadRequestPacket(std::uint8_t base, std::uint8_t slot, char device, std::uint32_t address,
                                     std::uint16_t count)
    : ReadRequestPacket(base, slot) {
  type_ = DataType::kContinuous;
  AppendVariable(VariableName(device, DataType::kByte, address));
  data_count_ = std::min(count, kMaxDataCount);
  header_.Length = static_cast<std::uint16_t>(header_.Length + 2);
}

bool ReadRequestPacket::AddVariable(char device, DataType type, std::uint32_t address, std::uint32_t bit) {
  if (type_ == DataType::kContinuous || type == DataType::kContinuous) return false;
  if (variables_.size() >= kMaxVariables) return false;
  if (!variables_.empty() && type != type_) return false;
  type_ = type;
  AppendVariable(VariableName(device, type, address, bit));
  return true;
}

void ReadRequestPacket::AppendVariable(const std::string& name) {
  variables_.push_back(name);
  header_.Length = static_cast<std::uint16_t>(header_.Length + 2 + name.size());
}

std::vector<unsigned char> ReadRequestPacket::Encode() const {
  packet::ByteWriter writer;
  header_.Encode(writer);
  writer.U16(kCommand);
  writer.U16(static_cast<std::uint16_t>(type_));
  writer.U16(0);
  writer.U16(static_cast<std::uint16_t>(variables_.size()));
  for (const std::string& name : variables_) {
    writer.U16(static_cast<std::uint16_t>(name.size()));
    writer.Text(name);
  }
  if (type_ == DataType::kContinuous) writer.U16(data_count_);
  return writer.Take();
}

}  // namespace xgt::fenet
