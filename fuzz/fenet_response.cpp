// A PLC's answer to a read request.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet_fuzz_support.h"
#include "xgt/fenet/response_packet.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xgt::fenet::ResponsePacket response;
  if (!response.Decode(std::vector<unsigned char>(data, data + size))) return 0;
  for (const auto& block : response.Blocks) fuzz_support::Require(block.Size <= 8, "block size");
  fuzz_support::Require(response.Data.size() == response.DataCount || response.Data.empty(), "data count");
  if (response.FirstValue()) fuzz_support::Require(response.ErrorState == 0, "value only without error");
  return 0;
}
