#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packet {

// Reads fields from a byte string in order: integers little-endian, byte runs raw.
// Never reads past the end: a field that does not fit throws ShortInput.
class ByteReader {
 public:
  explicit ByteReader(const std::vector<unsigned char>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  ByteReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  std::vector<unsigned char> Raw(std::size_t count);
  void Raw(unsigned char* out, std::size_t count);

  std::size_t Remaining() const { return size_ - position_; }
  std::size_t Position() const { return position_; }

 private:
  const unsigned char* Take(std::size_t count);

  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace packet
