// The data of a firmware block request.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"
#include "packet_fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  packet::sensor_setting::status::OTA request;
  const bool decoded = packet::Deserialization(request, std::vector<unsigned char>(data, data + size));
  fuzz_support::Require(decoded == (size >= 5), "accepted exactly 5 bytes or more");
  return 0;
}
