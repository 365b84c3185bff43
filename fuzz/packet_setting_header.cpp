// The parameters of a sensor-setting status: identifier, sub-command and data.

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
  const std::vector<unsigned char> parameters(data, data + size);
  packet::sensor_setting::status::Header header(parameters.size());
  const bool decoded = packet::Deserialization(header, parameters);
  fuzz_support::Require(decoded == (size >= 3 && size <= 258), "accepted exactly the lengths 3 to 258");
  return 0;
}
