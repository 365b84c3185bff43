#include "packet/byte_reader.h"

#include <algorithm>

#include "packet/wire_errors.h"

namespace packet {

const unsigned char* ByteReader::Take(std::size_t count) {
  if (count > Remaining()) throw ShortInput();
  const unsigned char* field = data_ + position_;
  position_ += count;
  return field;
}

std::uint8_t ByteReader::U8() { return *Take(1); }

std::uint16_t ByteReader::U16() {
  const unsigned char* field = Take(2);
  return static_cast<std::uint16_t>(field[0] | (field[1] << 8));
}

std::uint32_t ByteReader::U32() {
  const unsigned char* field = Take(4);
  return static_cast<std::uint32_t>(field[0]) | (static_cast<std::uint32_t>(field[1]) << 8) |
         (static_cast<std::uint32_t>(field[2]) << 16) | (static_cast<std::uint32_t>(field[3]) << 24);
}

std::vector<unsigned char> ByteReader::Raw(std::size_t count) {
  const unsigned char* field = Take(count);
  return std::vector<unsigned char>(field, field + count);
}

void ByteReader::Raw(unsigned char* out, std::size_t count) {
  const unsigned char* field = Take(count);
  std::copy(field, field + count, out);
}

}  // namespace packet
