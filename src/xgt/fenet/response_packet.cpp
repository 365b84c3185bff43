#include "xgt/fenet/response_packet.h"

#include <exception>
#include <string>

#include "log/log.h"
#include "packet/wire_errors.h"
#include "xgt/fenet/data_type.h"

namespace xgt::fenet {

std::uint64_t Block::Value() const {
  std::uint64_t value = 0;
  for (std::size_t index = Bytes.size(); index-- > 0;) value = (value << 8) | Bytes[index];
  return value;
}

bool ResponsePacket::Decode(const std::vector<unsigned char>& frame) {
  try {
    packet::ByteReader reader(frame);
    Decode(reader);
    return true;
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
    return false;
  }
}

void ResponsePacket::Decode(packet::ByteReader& reader) {
  *this = ResponsePacket{};
  ResponseHeader.Decode(reader);
  Command = reader.U16();
  DataTypeCode = reader.U16();
  Reserved = reader.U16();
  ErrorState = reader.U16();
  if (ErrorState != 0) {
    ErrorCode = reader.U8();
    return;
  }
  BlockCount = reader.U16();
  if (Command == kReadResponse) DecodeData(reader);
}

void ResponsePacket::DecodeData(packet::ByteReader& reader) {
  if (DataTypeCode == static_cast<std::uint16_t>(DataType::kContinuous)) {
    DataCount = reader.U16();
    Data = reader.Raw(DataCount);
    return;
  }
  for (std::uint16_t index = 0; index < BlockCount; ++index) {
    Block block;
    block.Size = reader.U16();
    if (block.Size > kMaxBlockSize) {
      throw packet::MalformedMessage("response block of " + std::to_string(block.Size) + " bytes exceeds 8");
    }
    reader.Raw(block.Bytes.data(), block.Size);
    Blocks.push_back(block);
  }
}

std::optional<std::uint64_t> ResponsePacket::FirstValue() const {
  if (ErrorState != 0 || Command != kReadResponse || Blocks.empty()) return std::nullopt;
  return Blocks.front().Value();
}

}  // namespace xgt::fenet
