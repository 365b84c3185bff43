#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace packet {

using Bytes = std::vector<unsigned char>;

// Appends fields to a byte string: integers little-endian whatever the processor's order,
// byte runs raw without a length prefix. Refuses (OversizedOutput) to grow past `limit`.
class ByteWriter {
 public:
  explicit ByteWriter(std::size_t limit = std::numeric_limits<std::size_t>::max()) : limit_(limit) {}

  void U8(std::uint8_t value);
  void U16(std::uint16_t value);
  void U32(std::uint32_t value);
  void Raw(const unsigned char* data, std::size_t size);
  void Raw(const Bytes& data) { Raw(data.data(), data.size()); }
  void Text(std::string_view text);

  std::size_t Size() const { return bytes_.size(); }
  const Bytes& View() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  void Reserve(std::size_t count);

  std::size_t limit_;
  Bytes bytes_;
};

}  // namespace packet
