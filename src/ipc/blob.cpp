#include "ipc/blob.h"

namespace ipc::blob {

std::uint16_t ReadU16(const std::uint8_t* data) {
  return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

std::uint32_t ReadU32(const std::uint8_t* data) {
  return (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) | (std::uint32_t{data[2]} << 8) |
         std::uint32_t{data[3]};
}

std::uint64_t ReadU64(const std::uint8_t* data) {
  return (std::uint64_t{ReadU32(data)} << 32) | ReadU32(data + 4);
}

void AppendU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void AppendU32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendU64(Bytes& out, std::uint64_t value) {
  AppendU32(out, static_cast<std::uint32_t>(value >> 32));
  AppendU32(out, static_cast<std::uint32_t>(value));
}

bool ParseList(const std::uint8_t* data, std::size_t size, std::vector<Attribute>& out, std::string& error) {
  std::size_t offset = 0;
  while (offset < size) {
    if (size - offset < kHeadSize) {
      error = "attribute head truncated";
      return false;
    }
    const std::uint32_t head = ReadU32(data + offset);
    const std::size_t length = head & kLengthMask;
    if (length < kHeadSize || length > size - offset) {
      error = "attribute length " + std::to_string(length) + " does not fit";
      return false;
    }
    Attribute attribute;
    attribute.extended = (head & kExtendedFlag) != 0;
    attribute.id = static_cast<std::uint8_t>((head >> 24) & 0x7F);
    attribute.payload = data + offset + kHeadSize;
    attribute.payload_size = length - kHeadSize;
    out.push_back(attribute);
    const std::size_t padded = Pad4(length);
    offset += padded <= size - offset ? padded : size - offset;
  }
  return true;
}

std::size_t Writer::Open(bool extended, std::uint8_t id) {
  const std::size_t offset = buffer_.size();
  AppendU32(buffer_, (extended ? kExtendedFlag : 0u) | (std::uint32_t{id} & 0x7F) << 24);
  return offset;
}

void Writer::Close(std::size_t offset) {
  const std::uint32_t length = static_cast<std::uint32_t>(buffer_.size() - offset) & kLengthMask;
  const std::uint32_t head = (ReadU32(buffer_.data() + offset) & ~kLengthMask) | length;
  for (int index = 0; index < 4; ++index) buffer_[offset + index] = static_cast<std::uint8_t>(head >> (24 - 8 * index));
  buffer_.resize(offset + Pad4(buffer_.size() - offset), 0);
}

void Writer::Put(std::uint8_t id, const void* payload, std::size_t size) {
  const std::size_t offset = Open(false, id);
  Append(static_cast<const std::uint8_t*>(payload), size);
  Close(offset);
}

void Writer::PutU32(std::uint8_t id, std::uint32_t value) {
  const std::size_t offset = Open(false, id);
  AppendU32(buffer_, value);
  Close(offset);
}

void Writer::PutU8(std::uint8_t id, std::uint8_t value) { Put(id, &value, 1); }

void Writer::PutString(std::uint8_t id, const std::string& text) { Put(id, text.c_str(), text.size() + 1); }

void Writer::Append(const std::uint8_t* data, std::size_t size) { buffer_.insert(buffer_.end(), data, data + size); }

}  // namespace ipc::blob
