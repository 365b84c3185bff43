// The data of a fold acknowledgement: one CBOR item.

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
  if (size > 255) return 0;  // the setting header refuses longer data
  packet::sensor_setting::status::DeviceFolds folds(size);
  if (packet::Deserialization(folds, std::vector<unsigned char>(data, data + size)) && folds.Folds.is_object()) {
    fuzz_support::Require(!folds.Folds.contains("CH"), "CH removed");
  }
  return 0;
}
