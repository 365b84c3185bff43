// The parameters of a sensor data status: 3-byte header and CBOR body.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet/sensor_data/status.h"
#include "packet/serialization.h"
#include "packet_fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto reading = packet::Deserialization<packet::sensor_data::status::Data>(
      std::vector<unsigned char>(data, data + size));
  if (!reading.Value.is_null()) {
    fuzz_support::Require(reading.Body.size() == reading.BodyLength(), "body length");
    fuzz_support::Require(reading.Value.at("v").is_string() && reading.Value.contains("ts"), "v and ts");
    fuzz_support::Require(!reading.Value.contains("c"), "c removed");
  }
  return 0;
}
