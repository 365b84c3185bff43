// A downloaded device image: its header read and its body split into 16-byte blocks.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "ota/firmware_image.h"
#include "packet_fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto header = ota::ReadImageHeader(data, size);
  fuzz_support::Require(header.has_value() == (size >= ota::kImageHeaderLength), "a header exactly from 32 bytes on");
  if (header && header->magic == ota::kImageMagic) {
    fuzz_support::Require(data[0] == 0x3D && data[3] == 0x96, "the magic is little-endian");
  }
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  const std::size_t limit = 64;
  const auto blocks = ota::SplitBlocks(input, limit);
  const std::size_t needed = (size + 15) / 16;
  fuzz_support::Require(blocks.has_value() == (needed <= limit), "refused only above the block limit");
  if (blocks) {
    fuzz_support::Require(blocks->size() == needed, "one block per 16 bytes started");
    if (size % 16 != 0) {
      const auto& last = blocks->back();
      for (std::size_t at = size % 16; at < 16; ++at)
        fuzz_support::Require(last[at] == 0, "the last block is zero-filled");
    }
  }
  return 0;
}
