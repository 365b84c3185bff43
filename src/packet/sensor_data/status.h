#pragma once

// Sensor data status from a node (opcode C1 F1 05, already consumed): a 3-byte header and a CBOR body.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/byte_reader.h"
#include "packet/unix_clock.h"

namespace packet::sensor_data::status {

// Bit 0 of the first byte is a format bit; bits 1-7 give the body length minus one (1 to 128).
// The other two bytes are carried, not interpreted.
class Header {
 public:
  virtual ~Header() = default;
  virtual void Deserialize(ByteReader& reader);

  std::size_t BodyLength() const { return static_cast<std::size_t>(Bytes[0] >> 1) + 1; }

  std::array<std::uint8_t, 3> Bytes{};
};

class Data : public Header {
 public:
  explicit Data(UnixClock clock = SystemUnixTime) : clock_(std::move(clock)) {}
  void Deserialize(ByteReader& reader) override;

  // Turns the body into the value: "v" becomes its text ("%f" of the single-precision value for
  // a floating number, else the decimal 32-bit integer), "ts" the current time, and a "c" member
  // is moved into the channel. Throws the JSON library's errors for a bad body or "v".
  void DecodeCBOR();

  std::vector<unsigned char> Body;
  nlohmann::json Value;
  std::int32_t Channel = 0;

 private:
  UnixClock clock_;
};

}  // namespace packet::sensor_data::status
