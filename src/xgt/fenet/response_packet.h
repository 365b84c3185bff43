#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "packet/byte_reader.h"
#include "xgt/fenet/header.h"

namespace xgt::fenet {

// One block of a read response: its size and up to 8 bytes, zero-filled, read as a
// little-endian unsigned 64-bit value.
struct Block {
  std::uint16_t Size = 0;
  std::array<std::uint8_t, 8> Bytes{};

  std::uint64_t Value() const;
};

// A PLC's answer, decoded field by field. The header is taken as it comes.
class ResponsePacket {
 public:
  static constexpr std::uint16_t kReadResponse = 0x0055;
  static constexpr std::size_t kMaxBlockSize = 8;

  // Decodes a whole frame; false (with an error line) when it ends early or holds a block
  // longer than 8 bytes. Bytes after the last field are ignored.
  bool Decode(const std::vector<unsigned char>& frame);
  void Decode(packet::ByteReader& reader);

  // The first block's value of a successful read response; nothing when the PLC reported an
  // error, the command is not a read response, or no block came back.
  std::optional<std::uint64_t> FirstValue() const;

  Header ResponseHeader;
  std::uint16_t Command = 0;
  std::uint16_t DataTypeCode = 0;
  std::uint16_t Reserved = 0;
  std::uint16_t ErrorState = 0;
  std::uint8_t ErrorCode = 0;
  std::uint16_t BlockCount = 0;
  std::uint16_t DataCount = 0;
  std::vector<unsigned char> Data;  // continuous reads
  std::vector<Block> Blocks;        // per-variable reads

 private:
  void DecodeData(packet::ByteReader& reader);
};

}  // namespace xgt::fenet
