#include "packet/byte_writer.h"

#include <string>

#include "packet/wire_errors.h"

namespace packet {

void ByteWriter::Reserve(std::size_t count) {
  if (count > limit_ || bytes_.size() > limit_ - count) {
    throw OversizedOutput("message would exceed " + std::to_string(limit_) + " bytes");
  }
}

void ByteWriter::U8(std::uint8_t value) {
  Reserve(1);
  bytes_.push_back(value);
}

void ByteWriter::U16(std::uint16_t value) {
  Reserve(2);
  bytes_.push_back(static_cast<unsigned char>(value & 0xFFU));
  bytes_.push_back(static_cast<unsigned char>(value >> 8));
}

void ByteWriter::U32(std::uint32_t value) {
  Reserve(4);
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<unsigned char>((value >> shift) & 0xFFU));
}

void ByteWriter::Raw(const unsigned char* data, std::size_t size) {
  Reserve(size);
  bytes_.insert(bytes_.end(), data, data + size);
}

void ByteWriter::Text(std::string_view text) {
  Raw(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace packet
