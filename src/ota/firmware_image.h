#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <vector>

#include "ota/firmware_version.h"

namespace ota {

// Devices fetch their firmware in blocks of this size.
using Block = std::array<std::uint8_t, 16>;

inline constexpr std::uint32_t kImageMagic = 0x96F3B83D;
inline constexpr std::size_t kImageHeaderLength = 32;
// A device counts an image's blocks in 16 bits, so a larger image cannot be announced.
inline constexpr std::size_t kMaxImageBlocks = 0xFFFF;

// The fields of a device image's 32-byte header that are checked: the magic (bytes 0-3) and
// the version (major byte 20, minor byte 21, patch bytes 22-23, build bytes 24-27), all
// little-endian.
struct ImageHeader {
  std::uint32_t magic = 0;
  FirmwareVersion version;
};

// The header at the start of `bytes`; nothing when fewer than 32 bytes are given.
std::optional<ImageHeader> ReadImageHeader(const std::uint8_t* bytes, std::size_t size);

// The whole stream in 16-byte blocks, a final partial block zero-filled. Nothing when the
// stream holds more than `max_blocks` blocks or fails while reading.
std::optional<std::vector<Block>> SplitBlocks(std::istream& input, std::size_t max_blocks = kMaxImageBlocks);

}  // namespace ota
