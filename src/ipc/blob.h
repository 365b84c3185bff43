#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The blob attribute layer of the bus wire format: a big-endian head word (extended flag,
// 7-bit id, 24-bit length including the head word) followed by the payload and zero
// padding up to a multiple of 4.
namespace ipc::blob {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kExtendedFlag = 0x80000000u;
constexpr std::uint32_t kLengthMask = 0x00FFFFFFu;
constexpr std::size_t kHeadSize = 4;

constexpr std::size_t Pad4(std::size_t length) { return (length + 3) & ~std::size_t{3}; }

std::uint16_t ReadU16(const std::uint8_t* data);
std::uint32_t ReadU32(const std::uint8_t* data);
std::uint64_t ReadU64(const std::uint8_t* data);
void AppendU16(Bytes& out, std::uint16_t value);
void AppendU32(Bytes& out, std::uint32_t value);
void AppendU64(Bytes& out, std::uint64_t value);

// One attribute found in a list; `payload` points into the parsed buffer.
struct Attribute {
  bool extended = false;
  std::uint8_t id = 0;
  const std::uint8_t* payload = nullptr;
  std::size_t payload_size = 0;
};

// Splits a list of attributes. Fails (with a reason) when an attribute's length is below
// the head word or runs past the end of the list; the padding of the last attribute may
// be missing.
bool ParseList(const std::uint8_t* data, std::size_t size, std::vector<Attribute>& out, std::string& error);

// Builds attribute lists in place. Nested attributes are opened, filled and closed; a
// closed container's length covers its children including their padding.
class Writer {
 public:
  // Starts an attribute and returns its offset, for Close.
  std::size_t Open(bool extended, std::uint8_t id);
  // Sets the length of the attribute started at `offset` and pads it to a multiple of 4.
  void Close(std::size_t offset);
  void Put(std::uint8_t id, const void* payload, std::size_t size);
  void PutU32(std::uint8_t id, std::uint32_t value);
  void PutU8(std::uint8_t id, std::uint8_t value);
  void PutString(std::uint8_t id, const std::string& text);
  void Append(const std::uint8_t* data, std::size_t size);

  Bytes& Buffer() { return buffer_; }
  const Bytes& Buffer() const { return buffer_; }

 private:
  Bytes buffer_;
};

}  // namespace ipc::blob
