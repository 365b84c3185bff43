#include "ota/firmware_image.h"

namespace ota {
namespace {

std::uint32_t Little32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::optional<ImageHeader> ReadImageHeader(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < kImageHeaderLength) return std::nullopt;
  ImageHeader header;
  header.magic = Little32(bytes);
  header.version.major = bytes[20];
  header.version.minor = bytes[21];
  header.version.patch = static_cast<std::uint16_t>(bytes[22] | bytes[23] << 8);
  header.version.build = Little32(bytes + 24);
  return header;
}

std::optional<std::vector<Block>> SplitBlocks(std::istream& input, std::size_t max_blocks) {
  std::vector<Block> blocks;
  for (;;) {
    Block block{};
    input.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    const auto count = input.gcount();
    if (count > 0) {
      if (blocks.size() == max_blocks) return std::nullopt;
      blocks.push_back(block);
    }
    if (input.eof()) return blocks;
    if (!input) return std::nullopt;
  }
}

}  // namespace ota
